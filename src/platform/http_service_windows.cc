// The HTTP service on Windows: Windows HTTP Services itself, each function
// bound late from the table ("Winhttp.dll") and called with the engine's
// arguments unchanged. Two adaptations only:
//   - URL_COMPONENTS is copied into the system's structure and back;
//   - an empty header block (null, or length 0, or an empty string) is not
//     handed to WinHttpAddRequestHeaders, which would refuse it: there is
//     nothing to add, so the call succeeds.
#include "platform/http_service.h"

// The system headers define the service's constants as macros; they come
// after the interface so that its own constants keep their names.
#include "platform/late_binding_windows.h"

namespace timesync::platform {
namespace {

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
DWORD* Dword(std::uint32_t* value) { return reinterpret_cast<DWORD*>(value); }

class WinHttpService final : public HttpService {
 public:
  bool WinHttpCheckPlatform() override { return LateBound<kWinHttpCheckPlatform>()() != FALSE; }

  bool WinHttpCrackUrl(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
                       URL_COMPONENTS* components) override {
    if (components == nullptr) return false;
    ::URL_COMPONENTS system = {};
    system.dwStructSize = sizeof system;
    system.lpszScheme = reinterpret_cast<wchar_t*>(components->lpszScheme);
    system.dwSchemeLength = components->dwSchemeLength;
    system.lpszHostName = reinterpret_cast<wchar_t*>(components->lpszHostName);
    system.dwHostNameLength = components->dwHostNameLength;
    system.lpszUserName = reinterpret_cast<wchar_t*>(components->lpszUserName);
    system.dwUserNameLength = components->dwUserNameLength;
    system.lpszPassword = reinterpret_cast<wchar_t*>(components->lpszPassword);
    system.dwPasswordLength = components->dwPasswordLength;
    system.lpszUrlPath = reinterpret_cast<wchar_t*>(components->lpszUrlPath);
    system.dwUrlPathLength = components->dwUrlPathLength;
    system.lpszExtraInfo = reinterpret_cast<wchar_t*>(components->lpszExtraInfo);
    system.dwExtraInfoLength = components->dwExtraInfoLength;
    if (!LateBound<kWinHttpCrackUrl>()(Wide(url), urlLength, flags, &system)) return false;
    components->lpszScheme = reinterpret_cast<char16_t*>(system.lpszScheme);
    components->dwSchemeLength = system.dwSchemeLength;
    components->nScheme = static_cast<int>(system.nScheme);
    components->lpszHostName = reinterpret_cast<char16_t*>(system.lpszHostName);
    components->dwHostNameLength = system.dwHostNameLength;
    components->nPort = system.nPort;
    components->lpszUserName = reinterpret_cast<char16_t*>(system.lpszUserName);
    components->dwUserNameLength = system.dwUserNameLength;
    components->lpszPassword = reinterpret_cast<char16_t*>(system.lpszPassword);
    components->dwPasswordLength = system.dwPasswordLength;
    components->lpszUrlPath = reinterpret_cast<char16_t*>(system.lpszUrlPath);
    components->dwUrlPathLength = system.dwUrlPathLength;
    components->lpszExtraInfo = reinterpret_cast<char16_t*>(system.lpszExtraInfo);
    components->dwExtraInfoLength = system.dwExtraInfoLength;
    return true;
  }

  HINTERNET WinHttpOpen(const char16_t* agent, std::uint32_t accessType, const char16_t* proxyName,
                        const char16_t* proxyBypass, std::uint32_t flags) override {
    return LateBound<kWinHttpOpen>()(Wide(agent), accessType, Wide(proxyName), Wide(proxyBypass),
                                     flags);
  }

  bool WinHttpSetTimeouts(HINTERNET session, int resolveTimeout, int connectTimeout,
                          int sendTimeout, int receiveTimeout) override {
    return LateBound<kWinHttpSetTimeouts>()(session, resolveTimeout, connectTimeout, sendTimeout,
                                            receiveTimeout) != FALSE;
  }

  HINTERNET WinHttpConnect(HINTERNET session, const char16_t* serverName, std::uint16_t port,
                           std::uint32_t reserved) override {
    return LateBound<kWinHttpConnect>()(session, Wide(serverName), port, reserved);
  }

  HINTERNET WinHttpOpenRequest(HINTERNET connection, const char16_t* verb,
                               const char16_t* objectName, const char16_t* version,
                               const char16_t* referrer, const char16_t* const* acceptTypes,
                               std::uint32_t flags) override {
    return LateBound<kWinHttpOpenRequest>()(
        connection, Wide(verb), Wide(objectName), Wide(version), Wide(referrer),
        reinterpret_cast<const wchar_t**>(const_cast<const char16_t**>(acceptTypes)), flags);
  }

  bool WinHttpSetCredentials(HINTERNET request, std::uint32_t authTargets, std::uint32_t authScheme,
                             const char16_t* userName, const char16_t* password,
                             void* authParams) override {
    return LateBound<kWinHttpSetCredentials>()(request, authTargets, authScheme, Wide(userName),
                                               Wide(password), authParams) != FALSE;
  }

  bool WinHttpSetOption(HINTERNET handle, std::uint32_t option, const void* buffer,
                        std::uint32_t bufferLength) override {
    return LateBound<kWinHttpSetOption>()(handle, option, const_cast<void*>(buffer),
                                          bufferLength) != FALSE;
  }

  bool WinHttpAddRequestHeaders(HINTERNET request, const char16_t* headers,
                                std::uint32_t headersLength, std::uint32_t modifiers) override {
    const bool empty = headers == nullptr || headersLength == 0 ||
                       (headersLength == static_cast<std::uint32_t>(-1) && headers[0] == u'\0');
    if (empty) return request != nullptr;
    return LateBound<kWinHttpAddRequestHeaders>()(request, Wide(headers), headersLength,
                                                  modifiers) != FALSE;
  }

  bool WinHttpSendRequest(HINTERNET request, const char16_t* headers, std::uint32_t headersLength,
                          const void* optional, std::uint32_t optionalLength,
                          std::uint32_t totalLength, std::uintptr_t context) override {
    return LateBound<kWinHttpSendRequest>()(request, Wide(headers), headersLength,
                                            const_cast<void*>(optional), optionalLength,
                                            totalLength, context) != FALSE;
  }

  bool WinHttpReceiveResponse(HINTERNET request, void* reserved) override {
    return LateBound<kWinHttpReceiveResponse>()(request, reserved) != FALSE;
  }

  bool WinHttpQueryDataAvailable(HINTERNET request,
                                 std::uint32_t* numberOfBytesAvailable) override {
    return LateBound<kWinHttpQueryDataAvailable>()(request, Dword(numberOfBytesAvailable)) != FALSE;
  }

  bool WinHttpReadData(HINTERNET request, void* buffer, std::uint32_t numberOfBytesToRead,
                       std::uint32_t* numberOfBytesRead) override {
    return LateBound<kWinHttpReadData>()(request, buffer, numberOfBytesToRead,
                                         Dword(numberOfBytesRead)) != FALSE;
  }

  bool WinHttpQueryHeaders(HINTERNET request, std::uint32_t infoLevel, const char16_t* name,
                           void* buffer, std::uint32_t* bufferLength,
                           std::uint32_t* index) override {
    return LateBound<kWinHttpQueryHeaders>()(request, infoLevel, Wide(name), buffer,
                                             Dword(bufferLength), Dword(index)) != FALSE;
  }

  bool WinHttpCloseHandle(HINTERNET handle) override {
    return LateBound<kWinHttpCloseHandle>()(handle) != FALSE;
  }
};

}  // namespace

std::unique_ptr<HttpService> NewHttpService() { return std::make_unique<WinHttpService>(); }

}  // namespace timesync::platform
