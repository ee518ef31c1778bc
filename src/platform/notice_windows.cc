// The notice on Windows: MessageBoxTimeoutA ("user32.dll", bound late) with no
// owner window, style 0 (one OK button, no icon), language 0 and the time-out.
// It returns when the user closes the box or the time-out has passed.
#include <windows.h>

#include <string>

#include "platform/late_binding_windows.h"
#include "platform/notice.h"

namespace timesync::platform {

void MessageBoxTimeout(std::string_view text, std::string_view caption, int timeoutMilliseconds) {
  // The box takes zero-terminated strings; a zero byte inside ends the text there.
  const std::string textZ(text.substr(0, text.find('\0')));
  const std::string captionZ(caption.substr(0, caption.find('\0')));
  const DWORD timeout = timeoutMilliseconds > 0 ? static_cast<DWORD>(timeoutMilliseconds) : 1;
  LateBound<kMessageBoxTimeoutA>()(nullptr, textZ.c_str(), captionZ.c_str(), 0, 0, timeout);
}

}  // namespace timesync::platform
