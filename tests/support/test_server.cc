#include "support/test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace timesync::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxHeadBytes = 1 << 20;    // a request head larger than this is refused
constexpr std::size_t kMaxBodyBytes = 256 << 20;  // and so is a larger body
constexpr int kCloseDrainMs = 1000;
constexpr int kMaxRequestsPerConnection = 100000;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "scripted server: %s failed: %s\n", what, std::strerror(errno));
  ERR_print_errors_fp(stderr);
  std::abort();
}

int RemainingMs(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Parses "1a;ext" as a chunk size; false when it is not hexadecimal or too large.
bool ParseChunkSize(std::string_view line, std::size_t& size) {
  const std::size_t end = line.find(';');
  line = TrimSpaces(line.substr(0, end));
  if (line.empty() || line.size() > 8) return false;
  size = 0;
  for (const char c : line) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    size = size * 16 + static_cast<std::size_t>(digit);
  }
  return true;
}

bool ParseContentLength(std::string_view text, std::size_t& length) {
  text = TrimSpaces(text);
  if (text.empty() || text.size() > 12) return false;
  length = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    length = length * 10 + static_cast<std::size_t>(c - '0');
  }
  return true;
}

}  // namespace

std::optional<std::string> ReceivedRequest::Header(std::string_view name) const {
  for (const auto& [headerName, value] : headers) {
    if (EqualsIgnoreCase(headerName, name)) return value;
  }
  return std::nullopt;
}

// ---- Connection -----------------------------------------------------------

struct Connection::Tls {
  SSL* ssl = nullptr;
  ~Tls() { SSL_free(ssl); }
};

Connection::Connection(ScriptedServer& server, int fd, int index)
    : server_(server), fd_(fd), index_(index) {}

Connection::~Connection() {
  if (fd_ >= 0) Close();
}

bool Connection::WaitFor(short events, int timeoutMs) {
  pollfd fds[2] = {{fd_, events, 0}, {server_.stopFd_, POLLIN, 0}};
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int ready = poll(fds, 2, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    if (fds[1].revents != 0) return false;
    return fds[0].revents != 0;
  }
  return false;
}

bool Connection::Handshake() {
  SSL_CTX* const context = static_cast<SSL_CTX*>(server_.sslContext_);
  tls_ = std::make_unique<Tls>();
  tls_->ssl = SSL_new(context);
  if (tls_->ssl == nullptr || SSL_set_fd(tls_->ssl, fd_) != 1) return false;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int result = SSL_accept(tls_->ssl);
    if (result == 1) return true;
    const int error = SSL_get_error(tls_->ssl, result);
    if (error == SSL_ERROR_WANT_READ) {
      if (!WaitFor(POLLIN, server_.options_.ioTimeoutMs)) return false;
    } else if (error == SSL_ERROR_WANT_WRITE) {
      if (!WaitFor(POLLOUT, server_.options_.ioTimeoutMs)) return false;
    } else {
      ERR_clear_error();
      return false;
    }
  }
  return false;
}

bool Connection::ReadMore() {
  if (fd_ < 0) return false;
  char buffer[16384];
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(server_.options_.ioTimeoutMs);
  for (int attempt = 0; attempt < 10000 && !server_.stopping(); ++attempt) {
    if (tls_ != nullptr) {
      const int got = SSL_read(tls_->ssl, buffer, sizeof buffer);
      if (got > 0) {
        in_.append(buffer, static_cast<std::size_t>(got));
        return true;
      }
      const int error = SSL_get_error(tls_->ssl, got);
      short events = 0;
      if (error == SSL_ERROR_WANT_READ) events = POLLIN;
      if (error == SSL_ERROR_WANT_WRITE) events = POLLOUT;
      if (events == 0) {
        ERR_clear_error();
        return false;  // close_notify, EOF or a TLS error
      }
      if (!WaitFor(events, RemainingMs(deadline))) return false;
    } else {
      const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
      if (got > 0) {
        in_.append(buffer, static_cast<std::size_t>(got));
        return true;
      }
      if (got == 0) return false;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
      if (!WaitFor(POLLIN, RemainingMs(deadline))) return false;
    }
  }
  return false;
}

std::optional<ReceivedRequest> Connection::ReadRequest() {
  const auto givenUp = [this]() -> std::optional<ReceivedRequest> {
    if (!in_.empty()) {
      const std::lock_guard lock(server_.mutex_);
      server_.partial_.push_back(in_);
    }
    in_.clear();
    return std::nullopt;
  };

  std::size_t headEnd;
  while ((headEnd = in_.find("\r\n\r\n")) == std::string::npos) {
    if (in_.size() > kMaxHeadBytes || !ReadMore()) return givenUp();
  }
  ReceivedRequest request;
  request.connection = index_;
  const std::string_view head(in_.data(), headEnd + 2);  // every line with its CR LF

  std::size_t lineStart = 0;
  std::size_t lineEnd = head.find("\r\n");
  const std::string_view requestLine = head.substr(0, lineEnd);
  const std::size_t firstSpace = requestLine.find(' ');
  const std::size_t lastSpace = requestLine.rfind(' ');
  if (firstSpace == std::string_view::npos || lastSpace == firstSpace) return givenUp();
  request.method = requestLine.substr(0, firstSpace);
  request.target = requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1);
  request.version = requestLine.substr(lastSpace + 1);
  if (request.version.rfind("HTTP/", 0) != 0) return givenUp();

  for (lineStart = lineEnd + 2; lineStart < head.size(); lineStart = lineEnd + 2) {
    lineEnd = head.find("\r\n", lineStart);
    const std::string_view line = head.substr(lineStart, lineEnd - lineStart);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return givenUp();
    request.headers.emplace_back(std::string(TrimSpaces(line.substr(0, colon))),
                                 std::string(TrimSpaces(line.substr(colon + 1))));
  }

  std::size_t consumed = headEnd + 4;
  const std::optional<std::string> transferEncoding = request.Header("Transfer-Encoding");
  const std::optional<std::string> contentLength = request.Header("Content-Length");
  if (transferEncoding && transferEncoding->find("chunked") != std::string::npos) {
    for (int chunk = 0;; ++chunk) {
      std::size_t sizeEnd;
      while ((sizeEnd = in_.find("\r\n", consumed)) == std::string::npos) {
        if (in_.size() - consumed > 1024 || !ReadMore()) return givenUp();
      }
      std::size_t size = 0;
      if (!ParseChunkSize(std::string_view(in_).substr(consumed, sizeEnd - consumed), size) ||
          request.body.size() + size > kMaxBodyBytes) {
        return givenUp();
      }
      consumed = sizeEnd + 2;
      if (size == 0) break;
      while (in_.size() < consumed + size + 2) {
        if (!ReadMore()) return givenUp();
      }
      if (in_.compare(consumed + size, 2, "\r\n") != 0) return givenUp();
      request.body.append(in_, consumed, size);
      consumed += size + 2;
    }
    // Trailer lines, then the empty line.
    for (int line = 0; line < 1000; ++line) {
      std::size_t end;
      while ((end = in_.find("\r\n", consumed)) == std::string::npos) {
        if (in_.size() - consumed > kMaxHeadBytes || !ReadMore()) return givenUp();
      }
      const bool last = end == consumed;
      consumed = end + 2;
      if (last) break;
    }
  } else if (contentLength) {
    std::size_t length = 0;
    if (!ParseContentLength(*contentLength, length) || length > kMaxBodyBytes) return givenUp();
    while (in_.size() < consumed + length) {
      if (!ReadMore()) return givenUp();
    }
    request.body = in_.substr(consumed, length);
    consumed += length;
  }

  request.raw = in_.substr(0, consumed);
  in_.erase(0, consumed);
  {
    const std::lock_guard lock(server_.mutex_);
    server_.requests_.push_back(request);
  }
  server_.arrived_.notify_all();
  return request;
}

bool Connection::Write(std::string_view bytes) {
  // The time-out bounds each wait for the peer to take more, not the whole write.
  for (int attempt = 0; !bytes.empty() && attempt < 100000000; ++attempt) {
    if (fd_ < 0 || server_.stopping()) return false;
    const std::size_t piece = bytes.size() < (1u << 20) ? bytes.size() : (1u << 20);
    short events = 0;
    if (tls_ != nullptr) {
      const int sent = SSL_write(tls_->ssl, bytes.data(), static_cast<int>(piece));
      if (sent > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(sent));
        continue;
      }
      const int error = SSL_get_error(tls_->ssl, sent);
      if (error == SSL_ERROR_WANT_READ) events = POLLIN;
      if (error == SSL_ERROR_WANT_WRITE) events = POLLOUT;
      if (events == 0) {
        ERR_clear_error();
        return false;
      }
    } else {
      const ssize_t sent = send(fd_, bytes.data(), piece, MSG_NOSIGNAL);
      if (sent > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(sent));
        continue;
      }
      if (sent < 0 && errno == EINTR) continue;
      if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
      events = POLLOUT;
    }
    if (!WaitFor(events, server_.options_.ioTimeoutMs)) return false;
  }
  return bytes.empty();
}

void Connection::Stall() {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(server_.options_.stallLimitMs);
  char buffer[4096];
  for (int attempt = 0; attempt < 100000 && fd_ >= 0; ++attempt) {
    if (!WaitFor(POLLIN, RemainingMs(deadline))) return;
    const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);  // discarded, TLS records included
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) return;
  }
}

void Connection::Reset() {
  if (fd_ < 0) return;
  const linger hard{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  close(fd_);
  fd_ = -1;
  tls_.reset();
}

void Connection::Close() {
  if (fd_ < 0) return;
  if (tls_ != nullptr) {
    SSL_shutdown(tls_->ssl);  // sends close_notify; the peer's is not awaited
    ERR_clear_error();
  }
  shutdown(fd_, SHUT_WR);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kCloseDrainMs);
  char buffer[4096];
  for (int attempt = 0; attempt < 10000; ++attempt) {
    if (!WaitFor(POLLIN, RemainingMs(deadline))) break;
    const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) break;
  }
  close(fd_);
  fd_ = -1;
  tls_.reset();
}

// ---- ScriptedServer -------------------------------------------------------

ScriptedServer::ScriptedServer(ServerOptions options, Handler handler)
    : options_(std::move(options)), handler_(std::move(handler)) {
  if (options_.tls) {
    certificate_ = MakeTestCertificate(options_.certificate);
    SSL_CTX* const context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr) Fail("SSL_CTX_new");
    sslContext_ = context;
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    BIO* const chain = BIO_new_mem_buf(certificate_.chainPem.data(),
                                       static_cast<int>(certificate_.chainPem.size()));
    X509* const leaf = PEM_read_bio_X509(chain, nullptr, nullptr, nullptr);
    if (leaf == nullptr || SSL_CTX_use_certificate(context, leaf) != 1) Fail("loading the leaf");
    X509_free(leaf);
    for (int extra = 0; extra < 8; ++extra) {
      X509* const issuer = PEM_read_bio_X509(chain, nullptr, nullptr, nullptr);
      if (issuer == nullptr) break;
      if (SSL_CTX_add0_chain_cert(context, issuer) != 1) Fail("SSL_CTX_add0_chain_cert");
    }
    ERR_clear_error();  // the read past the last certificate
    BIO_free(chain);
    BIO* const keyBio =
        BIO_new_mem_buf(certificate_.keyPem.data(), static_cast<int>(certificate_.keyPem.size()));
    EVP_PKEY* const key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    if (key == nullptr || SSL_CTX_use_PrivateKey(context, key) != 1) Fail("loading the key");
    EVP_PKEY_free(key);
    BIO_free(keyBio);
  }

  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(options_.port);
  if (getaddrinfo(options_.address.c_str(), service.c_str(), &hints, &found) != 0 ||
      found == nullptr) {
    Fail("resolving the listen address");
  }
  listenFd_ = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int on = 1;
  if (listenFd_ < 0 || setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(listenFd_, found->ai_addr, found->ai_addrlen) != 0 || listen(listenFd_, 64) != 0) {
    Fail("listening");
  }
  freeaddrinfo(found);
  sockaddr_storage bound{};
  socklen_t boundLength = sizeof bound;
  if (getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0) {
    Fail("getsockname");
  }
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  stopFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (stopFd_ < 0) Fail("eventfd");
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  stopping_.store(true);
  const std::uint64_t one = 1;
  if (write(stopFd_, &one, sizeof one) != sizeof one) std::perror("scripted server: stop signal");
  acceptThread_.join();
  for (Worker& worker : workers_) worker.thread.join();
  close(listenFd_);
  close(stopFd_);
  SSL_CTX_free(static_cast<SSL_CTX*>(sslContext_));
}

void ScriptedServer::AcceptLoop() {
  pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
  while (!stopping()) {
    const int ready = poll(fds, 2, 1000);
    if (ready <= 0 || fds[1].revents != 0) continue;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int index = connections_.fetch_add(1);
    if (index >= options_.maxConnections) {
      close(fd);
      continue;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // Join the connections that have ended, so a long run keeps few threads.
    std::erase_if(workers_, [](Worker& worker) {
      if (!worker.done->load()) return false;
      worker.thread.join();
      return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    workers_.push_back({std::thread([this, fd, index, done] {
                          Serve(fd, index);
                          done->store(true);
                        }),
                        done});
  }
}

void ScriptedServer::Serve(int fd, int index) {
  // A write to a peer that is gone must fail with EPIPE, not end the test program.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

  Connection connection(*this, fd, index);
  if (options_.tls && !connection.Handshake()) {
    failedHandshakes_.fetch_add(1);
    connection.Reset();
    return;
  }
  try {
    handler_(connection);
  } catch (...) {
    std::fprintf(stderr, "scripted server: the handler threw\n");
  }
}

std::string ScriptedServer::Url(std::string_view path, std::string_view host) const {
  std::string url = options_.tls ? "https://" : "http://";
  const std::string address = host.empty() ? options_.address : std::string(host);
  if (address.find(':') != std::string::npos) {
    url += "[" + address + "]";
  } else {
    url += address;
  }
  url += ":" + std::to_string(port_);
  url += path;
  return url;
}

std::vector<ReceivedRequest> ScriptedServer::Requests() const {
  const std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<std::string> ScriptedServer::Partial() const {
  const std::lock_guard lock(mutex_);
  return partial_;
}

bool ScriptedServer::WaitForRequests(std::size_t count, int timeoutMs) const {
  std::unique_lock lock(mutex_);
  return arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return requests_.size() >= count; });
}

// ---- Ready-made replies ---------------------------------------------------

std::string MakeResponse(int code, std::string_view reason,
                         const std::vector<std::pair<std::string, std::string>>& headers,
                         std::string_view body) {
  std::string response = "HTTP/1.1 " + std::to_string(code) + " " + std::string(reason) + "\r\n";
  bool framed = false;
  for (const auto& [name, value] : headers) {
    framed = framed || EqualsIgnoreCase(name, "Content-Length") ||
             EqualsIgnoreCase(name, "Transfer-Encoding");
    response += name + ": " + value + "\r\n";
  }
  if (!framed) response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  response += "\r\n";
  response += body;
  return response;
}

std::string RedirectResponse(int code, std::string_view location) {
  return MakeResponse(code, code == 301 ? "Moved Permanently" : "Found",
                      {{"Location", std::string(location)}}, "");
}

Handler FixedResponse(std::string bytes) {
  return [bytes = std::move(bytes)](Connection& connection) {
    if (connection.ReadRequest()) connection.Write(bytes);
    connection.Close();
  };
}

Handler ServeEach(std::function<std::string(const ReceivedRequest&)> reply) {
  return [reply = std::move(reply)](Connection& connection) {
    for (int served = 0; served < kMaxRequestsPerConnection; ++served) {
      const std::optional<ReceivedRequest> request = connection.ReadRequest();
      if (!request || !connection.Write(reply(*request))) break;
    }
    connection.Close();
  };
}

Handler BasicAuthThenRespond(std::string user, std::string password, std::string success) {
  const std::string expected = BasicAuthorization(user, password);
  return ServeEach([expected, success = std::move(success)](const ReceivedRequest& request) {
    if (request.Header("Authorization") == expected) return success;
    return MakeResponse(401, "Unauthorized", {{"WWW-Authenticate", "Basic realm=\"timesync\""}},
                        "unauthorized");
  });
}

std::string BasicAuthorization(std::string_view user, std::string_view password) {
  const std::string plain = std::string(user) + ":" + std::string(password);
  std::string encoded(4 * ((plain.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                                     reinterpret_cast<const unsigned char*>(plain.data()),
                                     static_cast<int>(plain.size()));
  encoded.resize(static_cast<std::size_t>(length));
  return "Basic " + encoded;
}

}  // namespace timesync::testing
