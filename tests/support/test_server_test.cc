// The test servers themselves: exact bytes both ways, bounded stops, real
// certificate faults, and the proxy and standalone-server fixtures.
#include "support/test_server.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/proxy_fixture.h"
#include "support/test_certificate.h"

extern char** environ;

namespace timesync::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Clock = std::chrono::steady_clock;

// A literal's bytes, zero bytes included.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

// ---- A plain socket client ----------------------------------------------

class RawClient {
 public:
  explicit RawClient(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawClient() { close(fd_); }
  bool connected() const { return connected_; }
  void Send(std::string_view bytes) {
    ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // Reads until the peer closes, resets or `timeoutMs` passes; `error` gets errno
  // of a failed read (0 after an orderly close, -1 after the time-out).
  std::string ReadAll(int timeoutMs, int* error = nullptr) {
    std::string received;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int result = -1;
    while (Clock::now() < deadline) {
      pollfd fds{fd_, POLLIN, 0};
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (poll(&fds, 1, static_cast<int>(left < 0 ? 0 : left)) <= 0) break;
      char buffer[4096];
      const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
      if (got > 0) {
        received.append(buffer, static_cast<std::size_t>(got));
        continue;
      }
      result = got == 0 ? 0 : errno;
      break;
    }
    if (error != nullptr) *error = result;
    return received;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

// ---- A libcurl client ---------------------------------------------------

struct Fetched {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
};

struct FetchOptions {
  std::string caPem{};  // trusted; empty: the system store
  std::string proxy{};  // "127.0.0.1:PORT"
  std::string proxyCredentials{};
  bool tunnel = false;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

Fetched Fetch(const std::string& url, const FetchOptions& options = {}) {
  Fetched fetched;
  CURL* const curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &fetched.body);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 10000L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_blob ca{const_cast<char*>(options.caPem.data()), options.caPem.size(), CURL_BLOB_COPY};
  if (!options.caPem.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &ca);
  curl_easy_setopt(curl, CURLOPT_PROXY, options.proxy.c_str());  // "" means none
  if (!options.proxyCredentials.empty()) {
    curl_easy_setopt(curl, CURLOPT_PROXYUSERPWD, options.proxyCredentials.c_str());
  }
  if (options.tunnel) curl_easy_setopt(curl, CURLOPT_HTTPPROXYTUNNEL, 1L);
  fetched.code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &fetched.status);
  curl_easy_cleanup(curl);
  return fetched;
}

// ---- Bytes on the wire --------------------------------------------------

TEST(ScriptedServerTest, SendsExactBytesAndRecordsEachRequest) {
  const std::string reply = Bytes("HTTP/1.1 200 OK\r\nX-Odd:  two  spaces \r\n\r\nab\0cd");
  ScriptedServer server({}, [&](Connection& connection) {
    for (int i = 0; i < 3; ++i) {
      if (!connection.ReadRequest()) return;
    }
    connection.Write(reply);
  });
  const std::string first = "GET /a?b=c HTTP/1.1\r\nHost: x\r\nX-Pad:   v  \r\n\r\n";
  const std::string second =
      "POST /chunked HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
      "3;ext=1\r\nabc\r\n0\r\nTrailer: t\r\n\r\n";
  const std::string third = Bytes("PUT /n HTTP/1.1\r\nContent-Length: 5\r\n\r\nh\0llo");
  RawClient client(server.port());
  ASSERT_TRUE(client.connected());
  // Sent in one go, so the server has to split the requests itself.
  client.Send(first + second + third);
  EXPECT_EQ(client.ReadAll(5000), reply);

  const std::vector<ReceivedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].raw, first);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/a?b=c");
  EXPECT_EQ(requests[0].version, "HTTP/1.1");
  EXPECT_EQ(requests[0].Header("x-pad"), "v");
  EXPECT_EQ(requests[0].Header("Missing"), std::nullopt);
  EXPECT_EQ(requests[1].raw, second);
  EXPECT_EQ(requests[1].body, "abc");
  EXPECT_EQ(requests[2].raw, third);
  EXPECT_EQ(requests[2].body, Bytes("h\0llo"));
  EXPECT_EQ(requests[2].connection, 0);
  EXPECT_THAT(server.Partial(), IsEmpty());
}

TEST(ScriptedServerTest, KeepsWhatArrivedOfABrokenRequest) {
  const std::vector<std::string> broken = {
      "GET / HTTP/1.1\r\nHost: x\r\n",                                      // head never ends
      "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nshort",                 // body cut short
      "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nab\r\n",  // not a chunk size
      "NOT HTTP AT ALL\r\n\r\n",                                            // no version
  };
  for (const std::string& bytes : broken) {
    SCOPED_TRACE(bytes);
    ScriptedServer server({}, FixedResponse("HTTP/1.1 200 OK\r\n\r\n"));
    {
      RawClient client(server.port());
      client.Send(bytes);
    }  // the client closes here
    // The handler gives up once the client has gone.
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
    while (server.Partial().empty() && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_THAT(server.Partial(), ElementsAre(bytes));
    EXPECT_THAT(server.Requests(), IsEmpty());
  }
}

TEST(ScriptedServerTest, ResetEndsTheConnectionAfterThePartWritten) {
  ScriptedServer server({}, [](Connection& connection) {
    if (!connection.ReadRequest()) return;
    connection.Write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npart");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the part arrive first
    connection.Reset();
  });
  RawClient client(server.port());
  client.Send("GET / HTTP/1.1\r\n\r\n");
  int error = 0;
  EXPECT_EQ(client.ReadAll(5000, &error), "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npart");
  EXPECT_EQ(error, ECONNRESET);
}

TEST(ScriptedServerTest, StallsUntilStoppedAndStopsWithinBounds) {
  std::unique_ptr<ScriptedServer> server =
      std::make_unique<ScriptedServer>(ServerOptions{}, [](Connection& connection) {
        if (connection.ReadRequest()) connection.Stall();
      });
  RawClient stalled(server->port());
  stalled.Send("GET / HTTP/1.1\r\n\r\n");
  RawClient silent(server->port());  // never sends: its handler waits in ReadRequest
  ASSERT_TRUE(server->WaitForRequests(1));
  int error = 0;
  EXPECT_EQ(stalled.ReadAll(300, &error), "");
  EXPECT_EQ(error, -1) << "the server answered or closed instead of stalling";

  const Clock::time_point start = Clock::now();
  server.reset();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  stalled.ReadAll(2000, &error);
  EXPECT_NE(error, -1) << "the connection outlived the server";
}

TEST(ScriptedServerTest, ReadyMadeHandlers) {
  ScriptedServer routes({}, ServeEach([](const ReceivedRequest& request) {
                          return request.target == "/old" ? RedirectResponse(302, "/new")
                                                          : MakeResponse(200, "OK", {}, "new");
                        }));
  const Fetched redirected = [&] {
    CURL* const curl = curl_easy_init();
    Fetched fetched;
    curl_easy_setopt(curl, CURLOPT_URL, routes.Url("/old").c_str());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &fetched.body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 10000L);
    fetched.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &fetched.status);
    curl_easy_cleanup(curl);
    return fetched;
  }();
  EXPECT_EQ(redirected.code, CURLE_OK);
  EXPECT_EQ(redirected.body, "new");
  const std::vector<ReceivedRequest> requests = routes.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].target, "/new");
  EXPECT_EQ(requests[1].connection, 0) << "both requests should share the kept-alive connection";

  EXPECT_EQ(MakeResponse(404, "Not Found", {{"X-A", "1"}}, "no"),
            "HTTP/1.1 404 Not Found\r\nX-A: 1\r\nContent-Length: 2\r\n\r\nno");
  EXPECT_EQ(BasicAuthorization("Aladdin", "open sesame"), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");

  ScriptedServer auth({}, BasicAuthThenRespond("user", "pass", MakeResponse(200, "OK", {}, "in")));
  RawClient client(auth.port());
  client.Send("GET / HTTP/1.1\r\n\r\nGET / HTTP/1.1\r\nAuthorization: " +
              BasicAuthorization("user", "pass") + "\r\n\r\n");
  ASSERT_TRUE(auth.WaitForRequests(2));
  const std::string replies = client.ReadAll(500);
  EXPECT_EQ(replies,
            MakeResponse(401, "Unauthorized", {{"WWW-Authenticate", "Basic realm=\"timesync\""}},
                         "unauthorized") +
                MakeResponse(200, "OK", {}, "in"));
}

TEST(ScriptedServerTest, ServesManyConnectionsInTurn) {
  const std::string reply = MakeResponse(200, "OK", {}, "x");
  ScriptedServer server({}, FixedResponse(reply));
  for (int i = 0; i < 300; ++i) {
    RawClient client(server.port());
    client.Send("GET /" + std::to_string(i) + " HTTP/1.1\r\n\r\n");
    ASSERT_EQ(client.ReadAll(5000), reply) << "connection " << i;
  }
  const std::vector<ReceivedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 300u);
  EXPECT_EQ(requests[299].target, "/299");
  EXPECT_EQ(requests[299].connection, 299);
}

// ---- Certificates -------------------------------------------------------

// Every error OpenSSL finds in `chainPem` as a TLS client would check it for
// host 127.0.0.1, with `trustedPem` (when given) as the only trusted certificate.
std::set<int> VerifyErrors(const std::string& chainPem, const std::string& trustedPem) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(
      BIO_new_mem_buf(chainPem.data(), static_cast<int>(chainPem.size())), BIO_free);
  X509* const leaf = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
  STACK_OF(X509)* const untrusted = sk_X509_new_null();
  while (X509* const extra = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    sk_X509_push(untrusted, extra);
  }
  X509_STORE* const store = X509_STORE_new();
  if (!trustedPem.empty()) {
    std::unique_ptr<BIO, decltype(&BIO_free)> trusted(
        BIO_new_mem_buf(trustedPem.data(), static_cast<int>(trustedPem.size())), BIO_free);
    X509* const anchor = PEM_read_bio_X509(trusted.get(), nullptr, nullptr, nullptr);
    X509_STORE_add_cert(store, anchor);
    X509_free(anchor);
  }
  std::set<int> errors;
  X509_STORE_CTX* const context = X509_STORE_CTX_new();
  X509_STORE_CTX_init(context, store, leaf, untrusted);
  X509_STORE_CTX_set_default(context, "ssl_server");
  X509_VERIFY_PARAM_set1_ip_asc(X509_STORE_CTX_get0_param(context), "127.0.0.1");
  // The callback records each error and lets the verification go on to find the next.
  static thread_local std::set<int>* sink = nullptr;
  sink = &errors;
  X509_STORE_CTX_set_verify_cb(context, [](int ok, X509_STORE_CTX* ctx) {
    if (!ok) sink->insert(X509_STORE_CTX_get_error(ctx));
    return 1;
  });
  X509_verify_cert(context);
  sink = nullptr;
  X509_STORE_CTX_free(context);
  X509_STORE_free(store);
  sk_X509_pop_free(untrusted, X509_free);
  X509_free(leaf);
  return errors;
}

struct CertificateCase {
  TestCertificate kind;
  std::set<int> errorsWhenTrusted;  // with the issuing CA trusted: exactly this fault
};

void PrintTo(const CertificateCase& value, std::ostream* out) {
  *out << TestCertificateName(value.kind);
}

class CertificateKindTest : public ::testing::TestWithParam<CertificateCase> {};

TEST_P(CertificateKindTest, HasExactlyItsFault) {
  const TestCertificateFiles files = MakeTestCertificate(GetParam().kind);
  EXPECT_EQ(VerifyErrors(files.chainPem, files.caPem), GetParam().errorsWhenTrusted);
  // Nobody trusts the issuer, so every kind also fails as unknown.
  const std::set<int> untrusted = VerifyErrors(files.chainPem, "");
  const bool unknownIssuer = untrusted.count(X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT) +
                                 untrusted.count(X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN) +
                                 untrusted.count(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY) >
                             0;
  EXPECT_TRUE(unknownIssuer);
}

TEST_P(CertificateKindTest, ServerPresentsItOverTls) {
  ScriptedServer server({.tls = true, .certificate = GetParam().kind},
                        FixedResponse(MakeResponse(200, "OK", {}, "secret")));
  EXPECT_EQ(server.Url("/x").rfind("https://127.0.0.1:", 0), 0u);
  const Fetched trusted = Fetch(server.Url("/x"), {.caPem = server.certificate().caPem});
  if (GetParam().errorsWhenTrusted.empty()) {
    EXPECT_EQ(trusted.code, CURLE_OK) << curl_easy_strerror(trusted.code);
    EXPECT_EQ(trusted.body, "secret");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].target, "/x");
  } else {
    // A bad signature ends in a handshake alert (35), the other faults in 60.
    EXPECT_THAT(trusted.code,
                ::testing::AnyOf(CURLE_PEER_FAILED_VERIFICATION, CURLE_SSL_CONNECT_ERROR))
        << curl_easy_strerror(trusted.code);
    EXPECT_THAT(server.Requests(), IsEmpty());
  }
  const Fetched unknown = Fetch(server.Url("/x"));
  EXPECT_THAT(unknown.code,
              ::testing::AnyOf(CURLE_PEER_FAILED_VERIFICATION, CURLE_SSL_CONNECT_ERROR))
      << curl_easy_strerror(unknown.code);
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, CertificateKindTest,
    ::testing::Values(
        CertificateCase{TestCertificate::kSelfSigned, {}},
        CertificateCase{TestCertificate::kUnknownCa, {}},
        CertificateCase{TestCertificate::kWrongHost, {X509_V_ERR_IP_ADDRESS_MISMATCH}},
        CertificateCase{TestCertificate::kExpired, {X509_V_ERR_CERT_HAS_EXPIRED}},
        CertificateCase{TestCertificate::kNotYetValid, {X509_V_ERR_CERT_NOT_YET_VALID}},
        CertificateCase{TestCertificate::kBadSignature, {X509_V_ERR_CERT_SIGNATURE_FAILURE}},
        CertificateCase{TestCertificate::kClientUsageOnly, {X509_V_ERR_INVALID_PURPOSE}}),
    [](const ::testing::TestParamInfo<CertificateCase>& info) {
      return std::string(TestCertificateName(info.param.kind)).substr(1);
    });

TEST(ScriptedServerTest, PlainBytesOnATlsPortCountAsAFailedHandshake) {
  ScriptedServer server({.tls = true}, FixedResponse(MakeResponse(200, "OK", {}, "x")));
  RawClient client(server.port());
  client.Send("GET / HTTP/1.1\r\n\r\n");  // not a TLS hello
  client.ReadAll(5000);
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
  while (server.FailedHandshakes() == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(server.FailedHandshakes(), 1);
  EXPECT_THAT(server.Requests(), IsEmpty());
}

// ---- The proxy fixture --------------------------------------------------

bool Listening(int port) {
  RawClient probe(port);
  return probe.connected();
}

TEST(TinyProxyTest, ForwardsPlainRequestsAndTunnelsTls) {
  ScriptedServer origin(
      {}, ServeEach([](const ReceivedRequest&) { return MakeResponse(200, "OK", {}, "through"); }));
  ScriptedServer secure({.tls = true}, FixedResponse(MakeResponse(200, "OK", {}, "tunnelled")));
  int port = 0;
  {
    TinyProxy proxy;
    ASSERT_TRUE(proxy.running()) << proxy.Log();
    port = proxy.port();
    const Fetched plain = Fetch(origin.Url("/p"), {.proxy = proxy.Address()});
    EXPECT_EQ(plain.code, CURLE_OK) << curl_easy_strerror(plain.code) << proxy.Log();
    EXPECT_EQ(plain.body, "through");
    ASSERT_EQ(origin.Requests().size(), 1u);
    EXPECT_EQ(origin.Requests()[0].target, "/p");

    const Fetched tunnelled =
        Fetch(secure.Url("/s"), {.caPem = secure.certificate().caPem, .proxy = proxy.Address()});
    EXPECT_EQ(tunnelled.code, CURLE_OK) << curl_easy_strerror(tunnelled.code) << proxy.Log();
    EXPECT_EQ(tunnelled.body, "tunnelled");
  }
  EXPECT_FALSE(Listening(port)) << "the proxy outlived its fixture";
}

TEST(TinyProxyTest, AsksForBasicCredentials) {
  ScriptedServer origin(
      {}, ServeEach([](const ReceivedRequest&) { return MakeResponse(200, "OK", {}, "allowed"); }));
  TinyProxy proxy({.user = "alice", .password = "s3cret"});
  ASSERT_TRUE(proxy.running()) << proxy.Log();
  const Fetched refused = Fetch(origin.Url("/"), {.proxy = proxy.Address()});
  EXPECT_EQ(refused.status, 407);
  EXPECT_THAT(origin.Requests(), IsEmpty());
  const Fetched wrong =
      Fetch(origin.Url("/"), {.proxy = proxy.Address(), .proxyCredentials = "alice:nope"});
  EXPECT_THAT(wrong.status, ::testing::AnyOf(401, 407));  // tinyproxy answers 401 to a wrong pair
  EXPECT_THAT(origin.Requests(), IsEmpty());
  const Fetched allowed =
      Fetch(origin.Url("/"), {.proxy = proxy.Address(), .proxyCredentials = "alice:s3cret"});
  EXPECT_EQ(allowed.status, 200);
  EXPECT_EQ(allowed.body, "allowed");
}

// ---- The standalone server ----------------------------------------------

TEST(TestHttpServerProgramTest, ServesTheFileRecordsAndEndsOnSigterm) {
  const std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("timesync-server-" + std::to_string(getpid()));
  std::filesystem::create_directories(directory);
  const std::string response = Bytes("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\na\0b");
  std::ofstream(directory / "reply", std::ios::binary) << response;
  const std::string portFile = (directory / "port").string();
  const std::string recordFile = (directory / "record").string();
  std::vector<std::string> arguments = {TEST_HTTP_SERVER_PATH,
                                        "--response",
                                        (directory / "reply").string(),
                                        "--record",
                                        recordFile,
                                        "--port-file",
                                        portFile,
                                        "--max-seconds",
                                        "30"};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);

  int port = 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  while (port == 0 && Clock::now() < deadline) {
    std::ifstream(portFile) >> port;
    if (port == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_NE(port, 0);
  {
    RawClient client(port);
    client.Send("GET /one HTTP/1.1\r\n\r\n");
    EXPECT_EQ(client.ReadAll(5000), response);
  }
  {
    RawClient client(port);
    client.Send("GET /two HTTP/1.1\r\n\r\n");
    EXPECT_EQ(client.ReadAll(5000), response);
  }
  kill(pid, SIGTERM);
  int status = -1;
  for (int i = 0; i < 250 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!WIFEXITED(status)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    ADD_FAILURE() << "test_http_server did not end on SIGTERM";
  }
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::ifstream recorded(recordFile, std::ios::binary);
  std::stringstream bytes;
  bytes << recorded.rdbuf();
  EXPECT_EQ(bytes.str(), "GET /one HTTP/1.1\r\n\r\nGET /two HTTP/1.1\r\n\r\n");
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace timesync::testing
