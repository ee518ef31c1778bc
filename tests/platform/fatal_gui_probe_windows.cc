// A windowed program whose late-bound function cannot be found: it must end
// with exit code -1, showing an error box and writing nothing to stderr.
#include <windows.h>

#include "platform/late_binding_windows.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  timesync::platform::FailToBind({"no-such-library-here.dll", "WinHttpOpen"});
}
