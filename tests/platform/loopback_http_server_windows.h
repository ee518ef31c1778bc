// A scripted HTTP server on 127.0.0.1 for the Windows suites (Winsock, one
// thread, one connection at a time). Each request is read whole (headers and
// a Content-Length body), recorded, and answered with the bytes the handler
// returns; the connection is then closed. The destructor stops the server.
//
//   LoopbackHttpServer server([](const std::string& request) {
//     return std::string("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi");
//   });
//   ... request http://127.0.0.1:<server.port()>/ ...
//   server.requests()  // every request's bytes, in order
#ifndef TIMESYNC_TESTS_PLATFORM_LOOPBACK_HTTP_SERVER_WINDOWS_H_
#define TIMESYNC_TESTS_PLATFORM_LOOPBACK_HTTP_SERVER_WINDOWS_H_

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace timesync::testing {

class LoopbackHttpServer {
 public:
  using Handler = std::function<std::string(const std::string& request)>;

  explicit LoopbackHttpServer(Handler handler);
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  // 0 when the server could not start.
  std::uint16_t port() const { return port_; }
  std::vector<std::string> requests() const;

 private:
  void Serve();
  void Answer(SOCKET connection);

  Handler handler_;
  SOCKET listener_ = INVALID_SOCKET;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace timesync::testing

#endif  // TIMESYNC_TESTS_PLATFORM_LOOPBACK_HTTP_SERVER_WINDOWS_H_
