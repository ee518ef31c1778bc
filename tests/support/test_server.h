// ScriptedServer: a small HTTP/HTTPS server for tests that sends exactly the
// bytes a test scripts and records exactly the bytes it receives.
//
// It listens on 127.0.0.1 (or another loopback address) on a free port and
// runs a thread per server plus one per connection (joined as they end). For every accepted
// connection (after the TLS handshake, when TLS is on) it calls the test's
// handler, which reads requests and writes raw bytes back:
//
//   ScriptedServer server({}, [](Connection& connection) {
//     if (connection.ReadRequest()) connection.Write("HTTP/1.1 204 No Content\r\n\r\n");
//   });
//   ... request server.Url("/path") ...
//   EXPECT_EQ(server.Requests().at(0).target, "/path");
//
// Ready-made handlers cover the common replies:
//
//   ScriptedServer plain({}, FixedResponse(MakeResponse(200, "OK", {}, "hello")));
//   ScriptedServer tls({.tls = true, .certificate = TestCertificate::kExpired},
//                      FixedResponse("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
//   ScriptedServer auth({}, BasicAuthThenRespond("user", "pass", MakeResponse(200, "OK", {},
//   "in"))); ScriptedServer routes({}, ServeEach([](const ReceivedRequest& request) {
//     return request.target == "/old" ? RedirectResponse(302, "/new")
//                                     : MakeResponse(200, "OK", {}, "new");
//   }));
//
// A handler may also stall (Stall: never answer), write part of a reply and
// reset the connection (Reset: SO_LINGER 0, the peer sees ECONNRESET), close
// (Close), or serve several requests on one connection.
//
// Every wait is bounded: reads give up after `ioTimeoutMs`, a stall ends when
// the peer hangs up, the server stops, or `stallLimitMs` passes. The destructor
// stops the server, wakes every waiting connection and joins all threads.
#ifndef TIMESYNC_TESTS_SUPPORT_TEST_SERVER_H_
#define TIMESYNC_TESTS_SUPPORT_TEST_SERVER_H_

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "support/test_certificate.h"

namespace timesync::testing {

// One request as it arrived. `raw` is every byte of it on the wire: request
// line, header lines, the empty line and the body in its transfer coding
// (chunk sizes and trailers included); `body` is the decoded body.
struct ReceivedRequest {
  std::string raw;
  std::string method;   // "GET"
  std::string target;   // "/path?query" (or "host:443" for CONNECT)
  std::string version;  // "HTTP/1.1"
  std::vector<std::pair<std::string, std::string>> headers;  // names and values as sent, trimmed
  std::string body;
  int connection = 0;  // 0-based number of the connection it came on

  // The value of the first header named `name` (any case), if there is one.
  std::optional<std::string> Header(std::string_view name) const;
};

class ScriptedServer;

// One accepted connection, handed to the handler on its own thread.
class Connection {
 public:
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  // Reads one request (head, then a body by Content-Length or chunked coding)
  // and records it with the server. Empty when the peer closes, the bytes are
  // not a request, a wait passes `ioTimeoutMs`, or the server stops; what was
  // read of a broken request is still recorded (see ScriptedServer::Partial).
  std::optional<ReceivedRequest> ReadRequest();
  // Writes all of `bytes`; false when the peer is gone or a wait times out.
  bool Write(std::string_view bytes);
  // Waits without answering until the peer hangs up, the server stops or
  // `stallLimitMs` passes; whatever the peer sends meanwhile is discarded.
  void Stall();
  // Ends the connection with a TCP reset (SO_LINGER 0), no TLS close.
  void Reset();
  // Ends the connection in order: TLS close_notify, FIN, then waits briefly for
  // the peer to close so unread input does not turn the FIN into a reset.
  void Close();

  int index() const { return index_; }
  bool closed() const { return fd_ < 0; }

 private:
  friend class ScriptedServer;
  struct Tls;
  Connection(ScriptedServer& server, int fd, int index);
  bool Handshake();
  // Fills `in_` with at least one more byte; false on EOF, error, time-out or stop.
  bool ReadMore();
  // Waits for `fd_` to become ready for `events` (or the stop signal); false on
  // time-out or stop.
  bool WaitFor(short events, int timeoutMs);

  ScriptedServer& server_;
  int fd_;
  int index_;
  std::unique_ptr<Tls> tls_;
  std::string in_;  // received but not yet consumed
};

using Handler = std::function<void(Connection&)>;

struct ServerOptions {
  bool tls = false;
  TestCertificate certificate = TestCertificate::kSelfSigned;
  std::string address = "127.0.0.1";  // numeric, IPv4 or IPv6
  int port = 0;                       // 0: a free port
  int ioTimeoutMs = 10000;            // each wait for the peer to send or take more data
  int stallLimitMs = 60000;           // longest Stall
  int maxConnections = 100000;        // later connections are closed at once
};

class ScriptedServer {
 public:
  // Binds, listens and starts serving; aborts the test program when the
  // address cannot be bound or the TLS set-up fails.
  ScriptedServer(ServerOptions options, Handler handler);
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;
  // Stops accepting, wakes every connection and joins every thread.
  ~ScriptedServer();

  int port() const { return port_; }
  // "http://127.0.0.1:PORT/path" ("https" with TLS); `host` replaces the address.
  std::string Url(std::string_view path = "/", std::string_view host = "") const;
  // The certificate files in use (empty without TLS); caPem lets a client trust it.
  const TestCertificateFiles& certificate() const { return certificate_; }

  // Every complete request received so far, in order of arrival.
  std::vector<ReceivedRequest> Requests() const;
  // The bytes of requests that ended early (peer closed or timed out mid-request).
  std::vector<std::string> Partial() const;
  // Connections accepted so far, and of those the ones whose TLS handshake failed.
  int Connections() const { return connections_.load(); }
  int FailedHandshakes() const { return failedHandshakes_.load(); }
  // Waits up to `timeoutMs` until `count` requests have arrived.
  bool WaitForRequests(std::size_t count, int timeoutMs = 5000) const;

 private:
  friend class Connection;
  void AcceptLoop();
  void Serve(int fd, int index);
  bool stopping() const { return stopping_.load(); }

  ServerOptions options_;
  Handler handler_;
  TestCertificateFiles certificate_;
  void* sslContext_ = nullptr;  // SSL_CTX*
  int listenFd_ = -1;
  int stopFd_ = -1;  // eventfd, readable once the server stops
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::atomic<int> failedHandshakes_{0};
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::vector<ReceivedRequest> requests_;
  std::vector<std::string> partial_;
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<Worker> workers_;  // only the accept thread touches it until it is joined
  std::thread acceptThread_;
};

// ---- Ready-made replies and handlers -------------------------------------

// "HTTP/1.1 CODE REASON\r\n", each header as "Name: value\r\n", a
// Content-Length header unless one is given (or a Transfer-Encoding), "\r\n", body.
std::string MakeResponse(int code, std::string_view reason,
                         const std::vector<std::pair<std::string, std::string>>& headers,
                         std::string_view body);
// A redirect to `location` with an empty body.
std::string RedirectResponse(int code, std::string_view location);
// Answers one request on each connection with exactly `bytes`, then closes.
Handler FixedResponse(std::string bytes);
// Answers every request on a connection with reply(request) until the peer
// closes; the replies must frame their bodies (MakeResponse does).
Handler ServeEach(std::function<std::string(const ReceivedRequest&)> reply);
// 401 with `WWW-Authenticate: Basic realm="timesync"` until a request carries
// the right Basic credentials, then `success`; several requests per connection.
Handler BasicAuthThenRespond(std::string user, std::string password, std::string success);
// "Basic dXNlcjpwYXNz" for ("user", "pass").
std::string BasicAuthorization(std::string_view user, std::string_view password);

}  // namespace timesync::testing

#endif  // TIMESYNC_TESTS_SUPPORT_TEST_SERVER_H_
