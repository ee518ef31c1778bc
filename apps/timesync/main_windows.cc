// timesync.exe: the windowed program. WinMain stands in for the application
// framework: it makes the program's folder the current directory, calls
// ProgramEntry once on this thread, and ends the process with its result.
// There is no window and no message loop; the notice is the only thing shown.
#include <windows.h>

#include "platform/fatal.h"
#include "timesync/startup.h"

namespace {

void EnterProgramFolder() {
  char path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  for (DWORD i = length; i > 0; --i) {
    if (path[i - 1] == '\\' || path[i - 1] == '/') {
      path[i - 1] = '\0';
      ::SetCurrentDirectoryA(path);
      return;
    }
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
  timesync::platform::InstallOutOfMemoryHandler();
  EnterProgramFolder();
  return timesync::ProgramEntry();
}
