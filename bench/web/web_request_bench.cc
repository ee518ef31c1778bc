// WebRequest against plain libcurl, side by side in one run, on a local server:
//   (a) 2,000 sequential GETs of a small page, each a full WebRequest call,
//       next to the same GETs on a fresh curl easy handle each;
//   (b) one 512 MiB body through WebRequest (in a child process, so that its
//       peak memory can be read) next to `curl -o /dev/null`.
//
//   build/bench/web/web_request_bench
//
// Compare items_per_second of the two (a) rows and bytes_per_second of the two
// (b) rows; the WebRequest (b) rows also report their peak resident memory
// as a multiple of the body (peak_per_body). BM_FreshBufferFloor shows what
// writing the body once into new memory costs on this machine, the least any
// caller that keeps the body pays.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "platform/http_service.h"
#include "text/text.h"
#include "web/request_headers.h"
#include "web/web_request.h"

extern char** environ;

namespace timesync {
namespace {

constexpr int kSmallRequests = 2000;
constexpr std::int64_t kLargeBody = std::int64_t{512} << 20;

// A one-thread HTTP server on 127.0.0.1: reads each request head and answers
// with a fixed head and `bodyBytes` bytes, then closes. Stops in its destructor.
class LocalServer {
 public:
  explicit LocalServer(std::int64_t bodyBytes) : bodyBytes_(bodyBytes) {
    listen_ = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(listen_, 64);
    socklen_t length = sizeof(address);
    getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LocalServer() {
    stop_ = true;
    thread_.join();
    close(listen_);
  }
  int port() const { return port_; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/page"; }

 private:
  void Serve() {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                             std::to_string(bodyBytes_) + "\r\n\r\n";
    const std::string block(std::min<std::int64_t>(bodyBytes_, 1 << 20), 'x');
    while (!stop_) {
      pollfd ready{listen_, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      const int client = accept(listen_, nullptr, nullptr);
      if (client < 0) continue;
      std::string request;
      char buffer[4096];
      for (int reads = 0; reads < 64 && request.find("\r\n\r\n") == std::string::npos; ++reads) {
        pollfd in{client, POLLIN, 0};
        if (poll(&in, 1, 5000) <= 0) break;
        const ssize_t n = read(client, buffer, sizeof(buffer));
        if (n <= 0) break;
        request.append(buffer, static_cast<std::size_t>(n));
      }
      bool ok = WriteAll(client, head.data(), head.size());
      for (std::int64_t left = bodyBytes_; ok && left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(left, block.size()));
        ok = WriteAll(client, block.data(), n);
        left -= static_cast<std::int64_t>(n);
      }
      shutdown(client, SHUT_WR);
      pollfd drain{client, POLLIN, 0};
      if (poll(&drain, 1, 1000) > 0) (void)read(client, buffer, sizeof(buffer));
      close(client);
    }
  }
  static bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = write(fd, data, size);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  std::int64_t bodyBytes_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

const std::string kSmallPage = "<html><head><title>t</title></head><body>small page</body></html>";

void BM_WebRequestSmallGets(benchmark::State& state) {
  LocalServer server(static_cast<std::int64_t>(kSmallPage.size()));
  const Text url(server.Url());
  for (auto _ : state) {
    Text status;
    const Text page = WebRequest({.url = url, .status = &status});
    if (status != "200 OK") state.SkipWithError("request failed");
    benchmark::DoNotOptimize(page);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WebRequestSmallGets)
    ->Iterations(kSmallRequests)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// The HTTP service's calls alone, without the header and response stages:
// shows what the layer over curl costs. With `engineCalls`, also the calls
// WebRequest adds for a small GET (URL parsing, options, its default header
// block, the raw header query), still without its own text work.
void BM_ServiceSmallGets(benchmark::State& state, bool engineCalls) {
  LocalServer server(static_cast<std::int64_t>(kSmallPage.size()));
  const Text block = BuildRequestHeaders(Text(), 0, Text(), true, true);
  const std::u16string wideBlock(block.view().begin(), block.view().end());
  const std::string port = std::to_string(server.port());
  const std::u16string url =
      u"http://127.0.0.1:" + std::u16string(port.begin(), port.end()) + u"/page";
  for (auto _ : state) {
    const auto http = platform::NewHttpService();
    if (engineCalls) {
      platform::URL_COMPONENTS components;
      components.dwStructSize = sizeof(components);
      components.dwSchemeLength = components.dwHostNameLength = components.dwUrlPathLength =
          components.dwExtraInfoLength = 0xFFFFFFFF;
      http->WinHttpCrackUrl(url.c_str(), static_cast<std::uint32_t>(url.size()), 0, &components);
    }
    const auto session =
        http->WinHttpOpen(nullptr, platform::WINHTTP_ACCESS_TYPE_NO_PROXY, u"", nullptr, 0);
    http->WinHttpSetTimeouts(session, 30000, 30000, 30000, 30000);
    const auto connection =
        http->WinHttpConnect(session, u"127.0.0.1", static_cast<std::uint16_t>(server.port()), 0);
    const auto request =
        http->WinHttpOpenRequest(connection, u"GET", u"/page", nullptr, nullptr, nullptr, 0);
    if (engineCalls) {
      const std::uint32_t flags = 0x3300;  // the four waivable certificate kinds
      http->WinHttpSetOption(request, platform::WINHTTP_OPTION_SECURITY_FLAGS, &flags, 4);
      const std::uint32_t cookies = platform::WINHTTP_DISABLE_COOKIES;
      http->WinHttpSetOption(request, platform::WINHTTP_OPTION_DISABLE_FEATURE, &cookies, 4);
      http->WinHttpAddRequestHeaders(request, wideBlock.c_str(),
                                     static_cast<std::uint32_t>(wideBlock.size()),
                                     platform::WINHTTP_ADDREQ_FLAG_ADD);
    } else {
      http->WinHttpAddRequestHeaders(request, nullptr, 0xFFFFFFFF,
                                     platform::WINHTTP_ADDREQ_FLAG_ADD);
    }
    std::string body;
    if (!http->WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) ||
        !http->WinHttpReceiveResponse(request, nullptr)) {
      state.SkipWithError("request failed");
    }
    for (int i = 0; i < 1000; ++i) {
      std::uint32_t available = 0;
      if (!http->WinHttpQueryDataAvailable(request, &available) || available == 0) break;
      const std::size_t start = body.size();
      body.resize(start + available);
      std::uint32_t read = 0;
      http->WinHttpReadData(request, body.data() + start, available, &read);
      body.resize(start + read);
    }
    if (engineCalls) {
      std::uint32_t size = 0, index = 0;
      http->WinHttpQueryHeaders(request, platform::WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, nullptr,
                                &size, &index);
      std::u16string raw(size / 2, u'\0');
      http->WinHttpQueryHeaders(request, platform::WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr,
                                raw.data(), &size, &index);
      benchmark::DoNotOptimize(raw);
    }
    benchmark::DoNotOptimize(body);
    http->WinHttpCloseHandle(request);
    http->WinHttpCloseHandle(connection);
    http->WinHttpCloseHandle(session);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_ServiceSmallGets, Bare, false)
    ->Iterations(kSmallRequests)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ServiceSmallGets, EngineCalls, true)
    ->Iterations(kSmallRequests)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// A service that answers every call at once from memory: what WebRequest
// itself costs per call, without sockets (the URL is still parsed by the
// real layer).
class CannedService : public platform::HttpService {
 public:
  explicit CannedService(const std::string& page) : page_(page) {}
  bool WinHttpCheckPlatform() override { return true; }
  bool WinHttpCrackUrl(const char16_t* url, std::uint32_t length, std::uint32_t flags,
                       platform::URL_COMPONENTS* components) override {
    return real_->WinHttpCrackUrl(url, length, flags, components);
  }
  platform::HINTERNET WinHttpOpen(const char16_t*, std::uint32_t, const char16_t*, const char16_t*,
                                  std::uint32_t) override {
    return &handles_[0];
  }
  bool WinHttpSetTimeouts(platform::HINTERNET, int, int, int, int) override { return true; }
  platform::HINTERNET WinHttpConnect(platform::HINTERNET, const char16_t*, std::uint16_t,
                                     std::uint32_t) override {
    return &handles_[1];
  }
  platform::HINTERNET WinHttpOpenRequest(platform::HINTERNET, const char16_t*, const char16_t*,
                                         const char16_t*, const char16_t*, const char16_t* const*,
                                         std::uint32_t) override {
    unread_ = page_.size();
    return &handles_[2];
  }
  bool WinHttpSetCredentials(platform::HINTERNET, std::uint32_t, std::uint32_t, const char16_t*,
                             const char16_t*, void*) override {
    return true;
  }
  bool WinHttpSetOption(platform::HINTERNET, std::uint32_t, const void*, std::uint32_t) override {
    return true;
  }
  bool WinHttpAddRequestHeaders(platform::HINTERNET, const char16_t*, std::uint32_t,
                                std::uint32_t) override {
    return true;
  }
  bool WinHttpSendRequest(platform::HINTERNET, const char16_t*, std::uint32_t, const void*,
                          std::uint32_t, std::uint32_t, std::uintptr_t) override {
    return true;
  }
  bool WinHttpReceiveResponse(platform::HINTERNET, void*) override { return true; }
  bool WinHttpQueryDataAvailable(platform::HINTERNET, std::uint32_t* available) override {
    *available = static_cast<std::uint32_t>(unread_);
    return true;
  }
  bool WinHttpReadData(platform::HINTERNET, void* buffer, std::uint32_t size,
                       std::uint32_t* read) override {
    const std::size_t count = std::min<std::size_t>(size, unread_);
    std::memcpy(buffer, page_.data() + (page_.size() - unread_), count);
    unread_ -= count;
    *read = static_cast<std::uint32_t>(count);
    return true;
  }
  bool WinHttpQueryHeaders(platform::HINTERNET, std::uint32_t, const char16_t*, void* buffer,
                           std::uint32_t* length, std::uint32_t*) override {
    const std::uint32_t needed = static_cast<std::uint32_t>((kHead.size() + 1) * 2);
    if (buffer == nullptr || *length < needed) {
      *length = needed;
      return false;
    }
    auto* out = static_cast<char16_t*>(buffer);
    for (std::size_t i = 0; i < kHead.size(); ++i) out[i] = static_cast<char16_t>(kHead[i]);
    out[kHead.size()] = u'\0';
    *length = needed - 2;
    return true;
  }
  bool WinHttpCloseHandle(platform::HINTERNET) override { return true; }

 private:
  static constexpr std::string_view kHead =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 66\r\n\r\n";
  const std::string page_;
  std::size_t unread_ = 0;
  char handles_[3] = {};
  const std::unique_ptr<platform::HttpService> real_ = platform::NewHttpService();
};

void BM_WebRequestCannedService(benchmark::State& state) {
  CannedService service(kSmallPage);
  const Text url("http://127.0.0.1:8080/page");
  for (auto _ : state) {
    Text status;
    const Text page = WebRequest({.url = url, .status = &status}, service);
    if (status != "200 OK") state.SkipWithError("request failed");
    benchmark::DoNotOptimize(page);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WebRequestCannedService)->Unit(benchmark::kMicrosecond);

std::size_t Discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

// The same request as WebRequest's: its default header lines, no others.
curl_slist* DefaultHeaderLines() {
  const Text block = BuildRequestHeaders(Text(), 0, Text(), true, true);
  curl_slist* lines = nullptr;
  for (const Text& line : Split(block, "\r\n")) {
    if (!line.empty()) lines = curl_slist_append(lines, line.c_str());
  }
  return lines;
}

void BM_CurlSmallGets(benchmark::State& state) {
  LocalServer server(static_cast<std::int64_t>(kSmallPage.size()));
  const std::string url = server.Url();
  curl_slist* headers = DefaultHeaderLines();
  for (auto _ : state) {
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Discard);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    if (curl_easy_perform(easy) != CURLE_OK) state.SkipWithError("request failed");
    curl_easy_cleanup(easy);
  }
  curl_slist_free_all(headers);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CurlSmallGets)
    ->Iterations(kSmallRequests)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// Runs `child` in a forked process; its peak resident memory in bytes, or -1.
template <typename Child>
std::int64_t RunInChild(Child child) {
  const pid_t pid = fork();
  if (pid == 0) _exit(child() ? 0 : 1);
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return -1;
  }
  return static_cast<std::int64_t>(usage.ru_maxrss) * 1024;
}

// `wantBytes`: the bytes asked for as well as the page text, so both are
// held; without, the common call, the text takes the body's storage and the
// body is held once.
void BM_WebRequestLarge(benchmark::State& state, bool wantBytes) {
  LocalServer server(kLargeBody);
  const Text url(server.Url());
  std::int64_t peak = 0;
  for (auto _ : state) {
    const std::int64_t childPeak = RunInChild([&url, wantBytes] {
      ByteBuffer bytes;
      Text status;
      const Text page = WebRequest(
          {.url = url, .status = &status, .responseBytes = wantBytes ? &bytes : nullptr});
      return status == "200 OK" && TextLength(page) == kLargeBody &&
             bytes.size() == (wantBytes ? kLargeBody : 0);
    });
    if (childPeak < 0) state.SkipWithError("request failed");
    peak = std::max(peak, childPeak);
  }
  state.SetBytesProcessed(state.iterations() * kLargeBody);
  state.counters["peak_per_body"] = static_cast<double>(peak) / static_cast<double>(kLargeBody);
}
BENCHMARK_CAPTURE(BM_WebRequestLarge, BodyAndPage, true)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_WebRequestLarge, PageOnly, false)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// What any caller that keeps the body in memory pays at least: the body's
// size written once into fresh memory in a new process (the page faults of a
// new buffer), with no transfer at all.
void BM_FreshBufferFloor(benchmark::State& state) {
  for (auto _ : state) {
    const std::int64_t childPeak = RunInChild([] {
      std::string buffer;
      buffer.reserve(static_cast<std::size_t>(kLargeBody));
      const std::string block(1 << 20, 'x');
      for (std::int64_t left = kLargeBody; left > 0;
           left -= static_cast<std::int64_t>(block.size())) {
        buffer.append(block);
      }
      benchmark::DoNotOptimize(buffer.data());
      return buffer.size() == static_cast<std::size_t>(kLargeBody);
    });
    if (childPeak < 0) state.SkipWithError("child failed");
  }
  state.SetBytesProcessed(state.iterations() * kLargeBody);
}
BENCHMARK(BM_FreshBufferFloor)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The service alone hands the body over and the bytes are dropped: the
// transport's own rate, without the copies WebRequest keeps.
void BM_ServiceLargeBody(benchmark::State& state) {
  LocalServer server(kLargeBody);
  for (auto _ : state) {
    const auto http = platform::NewHttpService();
    const auto session =
        http->WinHttpOpen(nullptr, platform::WINHTTP_ACCESS_TYPE_NO_PROXY, u"", nullptr, 0);
    const auto connection =
        http->WinHttpConnect(session, u"127.0.0.1", static_cast<std::uint16_t>(server.port()), 0);
    const auto request =
        http->WinHttpOpenRequest(connection, u"GET", u"/page", nullptr, nullptr, nullptr, 0);
    std::int64_t total = 0;
    std::string buffer;
    if (http->WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) &&
        http->WinHttpReceiveResponse(request, nullptr)) {
      for (int i = 0; i < 10'000'000; ++i) {
        std::uint32_t available = 0;
        if (!http->WinHttpQueryDataAvailable(request, &available) || available == 0) break;
        buffer.resize(available);
        std::uint32_t read = 0;
        if (!http->WinHttpReadData(request, buffer.data(), available, &read)) break;
        total += read;
      }
    }
    if (total != kLargeBody) state.SkipWithError("body incomplete");
    http->WinHttpCloseHandle(request);
    http->WinHttpCloseHandle(connection);
    http->WinHttpCloseHandle(session);
  }
  state.SetBytesProcessed(state.iterations() * kLargeBody);
}
BENCHMARK(BM_ServiceLargeBody)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CurlToolLargeBody(benchmark::State& state) {
  LocalServer server(kLargeBody);
  const std::string url = server.Url();
  for (auto _ : state) {
    const char* argv[] = {"curl", "-s", "--noproxy", "*", "-o", "/dev/null", url.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      state.SkipWithError("curl not found");
      break;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("curl failed");
  }
  state.SetBytesProcessed(state.iterations() * kLargeBody);
}
BENCHMARK(BM_CurlToolLargeBody)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace timesync
