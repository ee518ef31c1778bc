// Fatal errors on Windows: an error box for a windowed (GUI-subsystem)
// program, a line on stderr for a console one, then exit code -1.
#include <windows.h>

#include <string>

#include "platform/fatal.h"

namespace timesync::platform {
namespace {

bool IsWindowedProgram() {
  const auto* image = reinterpret_cast<const unsigned char*>(::GetModuleHandleA(nullptr));
  if (image == nullptr) return false;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
  return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}

void WriteAll(HANDLE out, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written == 0) {
      return;
    }
    bytes.remove_prefix(written);
  }
}

// The program's file name without folder and extension, in a fixed buffer so
// nothing is allocated on the way out.
void ProgramName(char (&name)[MAX_PATH]) {
  char path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  const char* start = path;
  for (DWORD i = 0; i < n; ++i) {
    if (path[i] == '\\' || path[i] == '/') start = path + i + 1;
  }
  std::size_t length = 0;
  while (start[length] != '\0' && start[length] != '.' && length + 1 < MAX_PATH) {
    name[length] = start[length];
    ++length;
  }
  name[length] = '\0';
  if (length == 0) lstrcpynA(name, "timesync", MAX_PATH);
}

}  // namespace

void FatalError(std::string_view message) {
  char name[MAX_PATH];
  ProgramName(name);
  if (IsWindowedProgram()) {
    // Copied into a fixed buffer: this also runs when memory is exhausted.
    char text[1024] = {};
    const std::size_t length = message.size() < sizeof text - 1 ? message.size() : sizeof text - 1;
    message.copy(text, length);
    ::MessageBoxA(nullptr, text, name, MB_OK | MB_ICONERROR | MB_SYSTEMMODAL);
  } else {
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    if (err != nullptr && err != INVALID_HANDLE_VALUE) {
      WriteAll(err, name);
      WriteAll(err, ": fatal error: ");
      WriteAll(err, message);
      WriteAll(err, "\r\n");
    }
  }
  ::ExitProcess(static_cast<UINT>(kFatalExitStatus));
}

}  // namespace timesync::platform
