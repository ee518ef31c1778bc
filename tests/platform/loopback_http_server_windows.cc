#include "platform/loopback_http_server_windows.h"

#include <ws2tcpip.h>

#include <chrono>
#include <cstdlib>

namespace timesync::testing {
namespace {

constexpr int kPollMilliseconds = 50;
constexpr auto kConnectionLimit = std::chrono::seconds(10);
constexpr std::size_t kMaxRequestBytes = 1 << 20;

// True when `socket` has something to read within the poll interval.
bool Readable(SOCKET socket) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(socket, &set);
  timeval wait = {0, kPollMilliseconds * 1000};
  return ::select(0, &set, nullptr, nullptr, &wait) > 0;
}

// The request is complete once its headers and Content-Length body are in.
bool Complete(const std::string& request) {
  const std::size_t end = request.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  std::size_t length = 0;
  const std::string head = request.substr(0, end);
  for (const char* name : {"\r\nContent-Length:", "\r\ncontent-length:"}) {
    const std::size_t at = head.find(name);
    if (at != std::string::npos) length = std::strtoul(head.c_str() + at + 17, nullptr, 10);
  }
  return request.size() >= end + 4 + length;
}

}  // namespace

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
  listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener_ == INVALID_SOCKET) return;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int size = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 8) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return;
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ != INVALID_SOCKET) ::closesocket(listener_);
  ::WSACleanup();
}

std::vector<std::string> LoopbackHttpServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void LoopbackHttpServer::Serve() {
  while (!stopping_) {
    if (!Readable(listener_)) continue;
    const SOCKET connection = ::accept(listener_, nullptr, nullptr);
    if (connection == INVALID_SOCKET) continue;
    Answer(connection);
    ::shutdown(connection, SD_BOTH);
    ::closesocket(connection);
  }
}

void LoopbackHttpServer::Answer(SOCKET connection) {
  std::string request;
  const auto deadline = std::chrono::steady_clock::now() + kConnectionLimit;
  char buffer[4096];
  while (!stopping_ && !Complete(request) && request.size() < kMaxRequestBytes &&
         std::chrono::steady_clock::now() < deadline) {
    if (!Readable(connection)) continue;
    const int n = ::recv(connection, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.append(buffer, static_cast<std::size_t>(n));
  }
  if (request.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
  }
  const std::string response = handler_(request);
  std::size_t sent = 0;
  while (sent < response.size()) {
    const int n =
        ::send(connection, response.data() + sent, static_cast<int>(response.size() - sent), 0);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
}

}  // namespace timesync::testing
