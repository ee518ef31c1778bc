// TinyProxy: a real HTTP proxy (Debian's tinyproxy) for tests, on a free
// loopback port, with or without Basic authentication.
//
//   TinyProxy proxy({.user = "alice", .password = "secret"});
//   ASSERT_TRUE(proxy.running()) << proxy.Log();
//   ... request through proxy.Address() ("127.0.0.1:PORT") ...
//
// It forwards plain HTTP requests and tunnels anything with CONNECT (to any
// port). The config, pid file and log live in a fresh temporary directory.
// The constructor waits (at most `startTimeoutMs`) until the proxy accepts
// connections; the destructor sends SIGTERM, then SIGKILL if it has not ended
// within two seconds, reaps the process and removes the directory.
#ifndef TIMESYNC_TESTS_SUPPORT_PROXY_FIXTURE_H_
#define TIMESYNC_TESTS_SUPPORT_PROXY_FIXTURE_H_

#include <sys/types.h>

#include <string>

namespace timesync::testing {

struct ProxyOptions {
  std::string user{};  // both given: clients must send these Basic credentials
  std::string password{};
  int startTimeoutMs = 10000;
  std::string program = "/usr/bin/tinyproxy";
};

class TinyProxy {
 public:
  explicit TinyProxy(ProxyOptions options = {});
  TinyProxy(const TinyProxy&) = delete;
  TinyProxy& operator=(const TinyProxy&) = delete;
  ~TinyProxy();

  // True once the proxy accepted a connection; false when it could not start.
  bool running() const { return pid_ > 0; }
  int port() const { return port_; }
  // "127.0.0.1:PORT", the form a named-proxy setting takes.
  std::string Address() const;
  // What tinyproxy wrote to its log and to stderr so far, for failure messages.
  std::string Log() const;

 private:
  bool Start(const ProxyOptions& options);
  void Stop();

  std::string directory_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace timesync::testing

#endif  // TIMESYNC_TESTS_SUPPORT_PROXY_FIXTURE_H_
