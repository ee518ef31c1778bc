// The webrequest command, run as a program against local servers.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/proxy_fixture.h"
#include "support/test_server.h"

extern char** environ;

namespace timesync::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using Clock = std::chrono::steady_clock;

template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

struct Outcome {
  int exitCode = -1;  // -1: killed or did not end in time
  std::string out;
  std::string err;
};

// A scratch directory for one test, removed with it.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "timesync-cli-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Runs the command with `arguments`, stdin empty, and waits at most 60 s.
Outcome RunCommand(std::vector<std::string> arguments) {
  const ScratchDirectory scratch;
  const std::string outPath = (scratch.path() / "out").string();
  const std::string errPath = (scratch.path() / "err").string();
  arguments.insert(arguments.begin(), WEBREQUEST_PATH);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  Outcome outcome;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    return outcome;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
  int status = 0;
  pid_t done = 0;
  while ((done = waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (done != pid) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    ADD_FAILURE() << "webrequest did not end within 60 s";
  } else if (WIFEXITED(status)) {
    outcome.exitCode = WEXITSTATUS(status);
  }
  outcome.out = ReadFile(outPath);
  outcome.err = ReadFile(errPath);
  return outcome;
}

// "校时完毕" in code page 936 and in UTF-8.
const std::string kGbk = "\xD0\xA3\xCA\xB1\xCD\xEA\xB1\xCF";
const std::string kUtf8 = "\xE6\xA0\xA1\xE6\x97\xB6\xE5\xAE\x8C\xE6\xAF\x95";

TEST(WebRequestCliTest, SendsTheArgumentsAndPrintsThePage) {
  ScriptedServer server(
      {}, ServeEach([](const ReceivedRequest&) {
        return MakeResponse(200, "OK", {{"Content-Type", "text/plain"}}, "page " + kGbk);
      }));
  const Outcome outcome =
      RunCommand({server.Url("/p?q=1"), "--method", "post", "--body", kUtf8, "-H", "X-One: 1", "-H",
                  "X-Two: 2", "--timeout-seconds", "10"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "page " + kUtf8) << "the page text comes out in UTF-8";
  EXPECT_THAT(outcome.err, IsEmpty());
  const std::vector<ReceivedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_THAT(requests[0].raw, StartsWith("POST /p?q=1 HTTP/1.1\r\n"));
  EXPECT_EQ(requests[0].body, kGbk) << "the body goes out in code page 936";
  EXPECT_EQ(requests[0].Header("X-One"), "1");
  EXPECT_EQ(requests[0].Header("X-Two"), "2");
}

TEST(WebRequestCliTest, MethodByIndexOrName) {
  ScriptedServer server(
      {}, ServeEach([](const ReceivedRequest&) { return MakeResponse(200, "OK", {}, ""); }));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"0", "GET"}, {"1", "POST"}, {"HEAD", "HEAD"}, {"put", "PUT"}, {"Delete", "DELETE"}};
  for (const auto& [given, verb] : cases) {
    SCOPED_TRACE(given);
    const std::size_t before = server.Requests().size();
    const Outcome outcome = RunCommand({server.Url("/m"), "--method", given});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    const std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), before + 1);
    EXPECT_EQ(requests.back().method, verb);
  }
}

TEST(WebRequestCliTest, HeaderOptionsAndSwitchesReachTheWire) {
  ScriptedServer server(
      {}, ServeEach([](const ReceivedRequest&) { return MakeResponse(200, "OK", {}, ""); }));
  const std::vector<std::string> headerArguments = {"--extra-headers", "x-lower: 1\r\nX-Block: b",
                                                    "-H", "X-Line: l"};
  struct Case {
    std::vector<std::string> switches;
    bool userAgent;
    std::string lowerLine;  // how the caller's "x-lower: 1" arrives
  };
  const std::vector<Case> cases = {
      {{}, true, "X-Lower: 1\r\n"},
      {{"--no-default-headers"}, false, "X-Lower: 1\r\n"},
      {{"--no-normalize-headers"}, true, "x-lower: 1\r\n"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(::testing::PrintToString(test.switches));
    std::vector<std::string> arguments = {server.Url("/")};
    arguments.insert(arguments.end(), headerArguments.begin(), headerArguments.end());
    arguments.insert(arguments.end(), test.switches.begin(), test.switches.end());
    const std::size_t before = server.Requests().size();
    const Outcome outcome = RunCommand(arguments);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    const std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), before + 1);
    const ReceivedRequest& request = requests.back();
    EXPECT_EQ(request.Header("User-Agent").has_value(), test.userAgent);
    EXPECT_THAT(request.raw, HasSubstr("\r\n" + test.lowerLine));
    EXPECT_EQ(request.Header("X-Block"), "b");
    EXPECT_EQ(request.Header("X-Line"), "l");
  }
}

TEST(WebRequestCliTest, BodyFileIsSentAsRawBytesAndWinsOverBody) {
  ScriptedServer server({}, FixedResponse(MakeResponse(200, "OK", {}, "")));
  const ScratchDirectory scratch;
  const std::string bodyBytes = Bytes("a\0b\xFF\r\n");
  std::ofstream((scratch.path() / "body").string(), std::ios::binary) << bodyBytes;
  const Outcome outcome = RunCommand({server.Url("/"), "--method", "PUT", "--body", "ignored",
                                      "--body-file", (scratch.path() / "body").string()});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].body, bodyBytes);
}

TEST(WebRequestCliTest, IncludePrintsTheRawHeadersFirst) {
  ScriptedServer server({}, FixedResponse("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nX-A: b\r\n\r\n"
                                          "body"));
  const Outcome outcome = RunCommand({server.Url("/"), "-i"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nX-A: b\r\n\r\nbody");
}

TEST(WebRequestCliTest, JsonHoldsEveryOutput) {
  ScriptedServer server({}, FixedResponse(MakeResponse(200, "OK", {{"Set-Cookie", "s=1; Path=/"}},
                                                       Bytes("a\0b\xFF"))));
  const Outcome outcome =
      RunCommand({server.Url("/"), "--json", "--cookies", "c=2", "--response-cookies",
                  "pre=" + kUtf8 + "; ", "--no-merge-cookies"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  const nlohmann::ordered_json json = nlohmann::ordered_json::parse(outcome.out, nullptr, false);
  ASSERT_TRUE(json.is_object()) << outcome.out;
  std::vector<std::string> keys;
  for (const auto& item : json.items()) keys.push_back(item.key());
  EXPECT_THAT(keys, ::testing::ElementsAre("result", "status", "responseHeaders", "cookies",
                                           "responseCookies", "location", "responseBytes"));
  EXPECT_EQ(json["result"], "a") << "the page text ends at the zero byte";
  EXPECT_EQ(json["status"], "200 OK");
  EXPECT_THAT(json["responseHeaders"].get<std::string>(),
              StartsWith("HTTP/1.1 200 OK\r\nSet-Cookie: s=1; Path=/\r\n"));
  EXPECT_EQ(json["cookies"], "c=2");
  // The text given is kept (and converted back); the server's cookies may follow it.
  EXPECT_THAT(json["responseCookies"].get<std::string>(), StartsWith("pre=" + kUtf8 + "; "));
  EXPECT_EQ(json["responseBytes"], "YQBi/w==");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_THAT(server.Requests()[0].Header("Cookie").value_or(""), HasSubstr("c=2"));
}

TEST(WebRequestCliTest, RefuseRedirectsStopsAtTheFirstResponse) {
  ScriptedServer server({}, ServeEach([](const ReceivedRequest& request) {
                          return request.target == "/from" ? RedirectResponse(302, "/to")
                                                           : MakeResponse(200, "OK", {}, "arrived");
                        }));
  const Outcome refused = RunCommand({server.Url("/from"), "--refuse-redirects", "-i"});
  EXPECT_EQ(refused.exitCode, 0) << refused.err;
  EXPECT_THAT(refused.out, StartsWith("HTTP/1.1 302 Found\r\n"));
  ASSERT_EQ(server.Requests().size(), 1u);

  const Outcome followed = RunCommand({server.Url("/from")});
  EXPECT_EQ(followed.exitCode, 0) << followed.err;
  EXPECT_EQ(followed.out, "arrived");
  ASSERT_EQ(server.Requests().size(), 3u);
  EXPECT_EQ(server.Requests()[2].target, "/to");
}

TEST(WebRequestCliTest, CredentialsForTheServerAndTheProxy) {
  ScriptedServer server({},
                        BasicAuthThenRespond("user", "pa ss", MakeResponse(200, "OK", {}, "in")));
  TinyProxy proxy({.user = "alice", .password = "s3cret"});
  ASSERT_TRUE(proxy.running()) << proxy.Log();
  const Outcome outcome =
      RunCommand({server.Url("/"), "--user-name", "user", "--password", "pa ss", "--proxy",
                  proxy.Address(), "--proxy-user-name", "alice", "--proxy-password", "s3cret"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err << proxy.Log();
  EXPECT_EQ(outcome.out, "in");
  const std::vector<ReceivedRequest> requests = server.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back().Header("Authorization"), BasicAuthorization("user", "pa ss"));
}

TEST(WebRequestCliTest, EngineFailureExitsOneWithItsMessage) {
  // "701 解析URL地址失败!" and "712 服务器未响应!" in UTF-8.
  const std::string crackFailed =
      "701 \xE8\xA7\xA3\xE6\x9E\x90URL\xE5\x9C\xB0\xE5\x9D\x80\xE5\xA4\xB1\xE8\xB4\xA5!";
  const Outcome badUrl = RunCommand({"not a url"});
  EXPECT_EQ(badUrl.exitCode, 1);
  EXPECT_EQ(badUrl.err, "webrequest: " + crackFailed + "\n");
  EXPECT_THAT(badUrl.out, IsEmpty());

  const Outcome asJson = RunCommand({"not a url", "--json"});
  EXPECT_EQ(asJson.exitCode, 1);
  const nlohmann::json json = nlohmann::json::parse(asJson.out, nullptr, false);
  ASSERT_TRUE(json.is_object()) << asJson.out;
  EXPECT_EQ(json["status"], crackFailed);
  EXPECT_EQ(json["responseHeaders"], "");

  ScriptedServer silent({}, [](Connection& connection) {
    if (connection.ReadRequest()) connection.Stall();
  });
  const Clock::time_point start = Clock::now();
  const Outcome stalled = RunCommand({silent.Url("/"), "--timeout-seconds", "1"});
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(stalled.exitCode, 1);
  EXPECT_EQ(stalled.err,
            "webrequest: 712 \xE6\x9C\x8D\xE5\x8A\xA1\xE5\x99\xA8\xE6\x9C\xAA"
            "\xE5\x93\x8D\xE5\xBA\x94!\n");
}

TEST(WebRequestCliTest, UsageErrorsExitTwoBeforeAnyRequest) {
  ScriptedServer server({}, FixedResponse(MakeResponse(200, "OK", {}, "")));
  const std::vector<std::vector<std::string>> cases = {
      {},
      {server.Url("/"), "--method", "FETCH"},
      {server.Url("/"), "--method", "8"},
      {server.Url("/"), "--timeout-seconds", "soon"},
      {server.Url("/"), "--body-file", "/nonexistent/body"},
      {server.Url("/"), "--no-such-option"},
      {server.Url("/"), server.Url("/second")},
  };
  for (const std::vector<std::string>& arguments : cases) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    const Outcome outcome = RunCommand(arguments);
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_THAT(outcome.err, ::testing::Not(IsEmpty()));
    EXPECT_THAT(outcome.out, IsEmpty());
  }
  EXPECT_EQ(server.Connections(), 0);
}

TEST(WebRequestCliTest, HelpAndVersion) {
  const Outcome help = RunCommand({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* option :
       {"--method", "--body-file", "--response-cookies", "--extra-headers", "--refuse-redirects",
        "--proxy-user-name", "--timeout-seconds", "--no-merge-cookies", "--no-default-headers",
        "--no-normalize-headers", "--json"}) {
    EXPECT_THAT(help.out, HasSubstr(option));
  }
  const Outcome version = RunCommand({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, std::string("webrequest ") + TIMESYNC_VERSION + "\n");
}

}  // namespace
}  // namespace timesync::testing
