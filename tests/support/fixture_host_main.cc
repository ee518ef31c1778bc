// test_fixture_host: runs one command with a set of loopback test servers and
// proxies around it, for programs that cannot start them themselves (the
// Windows suites under Wine):
//
//   test_fixture_host [--max-seconds 300] -- scripts/wine-run some_test.exe
//
// It starts the fixtures, hands their addresses to the command in environment
// variables, waits for the command (at most --max-seconds, then SIGTERM and
// SIGKILL), stops every fixture and exits with the command's exit status
// (124 on the time limit, 127 when it cannot be started, 2 on a usage error).
//
// The servers answer one request per connection with "200 OK" and the
// request's own bytes as the body ("echo"), so a test sees what arrived, proxy
// headers included, and then close the connection.
//
//   TIMESYNC_TEST_HTTP_URL             http://127.0.0.2:PORT/   plain echo
//   TIMESYNC_TEST_HTTPS_URL            https://127.0.0.2:PORT/  echo, self-signed certificate
//   TIMESYNC_TEST_HTTPS_<KIND>_URL     https://127.0.0.1:PORT/  echo, certificate of one fault:
//       UNKNOWN_CA, WRONG_HOST, EXPIRED, NOT_YET_VALID, CLIENT_USAGE_ONLY, BAD_SIGNATURE
//   TIMESYNC_TEST_PROXY                127.0.0.1:PORT           tinyproxy, open
//   TIMESYNC_TEST_AUTH_PROXY           127.0.0.1:PORT           tinyproxy, Basic credentials:
//   TIMESYNC_TEST_AUTH_PROXY_USER, TIMESYNC_TEST_AUTH_PROXY_PASSWORD
//   TIMESYNC_TEST_PROXY_LOG_URL        http://127.0.0.1:PORT/   GET open or auth: that proxy's log
//
// The echo servers behind the proxies listen on 127.0.0.2, a host other than
// the proxies' own, so that a client cannot mistake the proxy for the target.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/proxy_fixture.h"
#include "support/test_certificate.h"
#include "support/test_server.h"

extern char** environ;

namespace timesync::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kExitUsage = 2;
constexpr int kExitTimedOut = 124;
constexpr int kExitNotStarted = 127;
constexpr auto kTermGrace = std::chrono::seconds(5);
constexpr auto kPollStep = std::chrono::milliseconds(20);

constexpr char kProxyUser[] = "proxy-user";
constexpr char kProxyPassword[] = "proxy-secret";

struct CertificateServer {
  TestCertificate kind;
  const char* variable;
};
constexpr CertificateServer kCertificateServers[] = {
    {TestCertificate::kUnknownCa, "TIMESYNC_TEST_HTTPS_UNKNOWN_CA_URL"},
    {TestCertificate::kWrongHost, "TIMESYNC_TEST_HTTPS_WRONG_HOST_URL"},
    {TestCertificate::kExpired, "TIMESYNC_TEST_HTTPS_EXPIRED_URL"},
    {TestCertificate::kNotYetValid, "TIMESYNC_TEST_HTTPS_NOT_YET_VALID_URL"},
    {TestCertificate::kClientUsageOnly, "TIMESYNC_TEST_HTTPS_CLIENT_USAGE_ONLY_URL"},
    {TestCertificate::kBadSignature, "TIMESYNC_TEST_HTTPS_BAD_SIGNATURE_URL"},
};

// One request per connection: a client that kept connections for reuse would
// skip the TLS handshake, and with it the certificate check, on the next call.
Handler Echo() {
  return [](Connection& connection) {
    const std::optional<ReceivedRequest> request = connection.ReadRequest();
    if (!request) return;
    connection.Write(MakeResponse(
        200, "OK", {{"Content-Type", "text/plain"}, {"Connection", "close"}}, request->raw));
    connection.Close();
  };
}

// Waits for `pid` until `deadline`; on the limit ends it (SIGTERM, then SIGKILL).
int WaitForCommand(pid_t pid, Clock::time_point deadline) {
  int status = 0;
  while (true) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return kExitNotStarted;
    if (Clock::now() >= deadline) {
      std::cerr << "test_fixture_host: the command ran past its time limit\n";
      kill(pid, SIGTERM);
      const Clock::time_point killAt = Clock::now() + kTermGrace;
      while (waitpid(pid, &status, WNOHANG) != pid) {
        if (Clock::now() >= killAt) {
          kill(pid, SIGKILL);
          waitpid(pid, &status, 0);
          break;
        }
        std::this_thread::sleep_for(kPollStep);
      }
      return kExitTimedOut;
    }
    std::this_thread::sleep_for(kPollStep);
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

int Run(int argc, char** argv) {
  int maxSeconds = 300;
  int first = 1;
  if (first + 1 < argc && std::strcmp(argv[first], "--max-seconds") == 0) {
    maxSeconds = std::atoi(argv[first + 1]);
    first += 2;
  }
  if (first >= argc || std::strcmp(argv[first], "--") != 0 || first + 1 >= argc || maxSeconds < 1) {
    std::cerr << "usage: test_fixture_host [--max-seconds N] -- COMMAND [ARGS...]\n";
    return kExitUsage;
  }
  ++first;

  TinyProxy openProxy;
  TinyProxy authProxy({.user = kProxyUser, .password = kProxyPassword});
  if (!openProxy.running() || !authProxy.running()) {
    std::cerr << "test_fixture_host: tinyproxy did not start\n"
              << openProxy.Log() << authProxy.Log();
    return kExitNotStarted;
  }
  ScriptedServer proxyLogs({}, ServeEach([&](const ReceivedRequest& request) {
                             const std::string log = request.target == "/auth"   ? authProxy.Log()
                                                     : request.target == "/open" ? openProxy.Log()
                                                                                 : std::string();
                             return log.empty() ? MakeResponse(404, "Not Found", {}, "")
                                                : MakeResponse(200, "OK", {}, log);
                           }));
  ScriptedServer http({.address = "127.0.0.2"}, Echo());
  ScriptedServer https({.tls = true, .address = "127.0.0.2"}, Echo());
  std::vector<std::unique_ptr<ScriptedServer>> certificateServers;
  for (const CertificateServer& server : kCertificateServers) {
    certificateServers.push_back(std::make_unique<ScriptedServer>(
        ServerOptions{.tls = true, .certificate = server.kind}, Echo()));
  }

  const std::vector<std::pair<std::string, std::string>> variables = [&] {
    std::vector<std::pair<std::string, std::string>> list = {
        {"TIMESYNC_TEST_HTTP_URL", http.Url("/")},
        {"TIMESYNC_TEST_HTTPS_URL", https.Url("/")},
        {"TIMESYNC_TEST_PROXY", openProxy.Address()},
        {"TIMESYNC_TEST_AUTH_PROXY", authProxy.Address()},
        {"TIMESYNC_TEST_AUTH_PROXY_USER", kProxyUser},
        {"TIMESYNC_TEST_AUTH_PROXY_PASSWORD", kProxyPassword},
        {"TIMESYNC_TEST_PROXY_LOG_URL", proxyLogs.Url("/")},
    };
    for (std::size_t i = 0; i < certificateServers.size(); ++i) {
      list.emplace_back(kCertificateServers[i].variable, certificateServers[i]->Url("/"));
    }
    return list;
  }();
  for (const auto& [name, value] : variables) setenv(name.c_str(), value.c_str(), 1);

  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(maxSeconds);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[first], nullptr, nullptr, argv + first, environ) != 0) {
    std::cerr << "test_fixture_host: cannot start " << argv[first] << "\n";
    return kExitNotStarted;
  }
  return WaitForCommand(pid, deadline);
}

}  // namespace
}  // namespace timesync::testing

int main(int argc, char** argv) {
  // A server's peer may hang up mid-write; that must not end the host.
  signal(SIGPIPE, SIG_IGN);
  return timesync::testing::Run(argc, argv);
}
