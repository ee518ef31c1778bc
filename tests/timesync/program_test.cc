// The timesync program run as a real process against a local HTTPS server.
//
// Its server URL is fixed, so each run happens inside a private network and
// mount namespace: loopback up, a hosts file that maps the server's name to
// 127.0.0.1 bind-mounted over /etc/hosts, and test_http_server answering on
// 127.0.0.1:443. The program runs with CAP_SYS_TIME dropped from its bounding
// and inheritable sets (so the kernel refuses any clock change) and with a
// preloaded shim that takes the place of clock_settime and records the time
// asked for. Needs root and unshare; skipped otherwise.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace timesync {
namespace {

namespace fs = std::filesystem;

// Runs inside the namespaces; its exit status is the program's, or 90+ for a
// failed step of the set-up.
constexpr const char* kNamespaceScript = R"sh(
cd "$WORK" && rm -f port requests clock stdout stderr server.log || exit 90
ip link set lo up || exit 91
mount --bind "$WORK/hosts" /etc/hosts || exit 92
server=
if [ -n "$SERVE" ]; then
  "$SERVER" --response "$WORK/reply.http" --address 127.0.0.1 --port 443 --tls \
      --record "$WORK/requests" --port-file "$WORK/port" --max-seconds 60 \
      >"$WORK/server.log" 2>&1 &
  server=$!
  tries=0
  while [ ! -s "$WORK/port" ] && [ "$tries" -lt 200 ]; do sleep 0.05; tries=$((tries + 1)); done
  [ -s "$WORK/port" ] || { kill "$server"; exit 93; }
fi
setpriv --bounding-set -sys_time --inh-caps -sys_time -- \
  env TZ="$CHILD_TZ" LC_ALL="$CHILD_LOCALE" LD_PRELOAD="$SHIM" \
      TIMESYNC_SHIM_RECORD="$WORK/clock" TIMESYNC_SHIM_RESULT="$SHIM_RESULT" \
      ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
      "$PROGRAM" $ARGUMENTS >"$WORK/stdout" 2>"$WORK/stderr"
status=$?
if [ -n "$server" ]; then kill "$server"; wait "$server"; fi
exit "$status"
)sh";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

bool CommandWorks(const std::string& command) { return std::system(command.c_str()) == 0; }

struct ProgramRun {
  int exitStatus = -1;
  std::string out;
  std::string err;
  std::vector<std::string> clockCalls;  // "<seconds> <nanoseconds> <CapEff>"
  std::string requests;                 // what the server received
};

struct RunOptions {
  std::optional<std::string> reply{};  // no reply: no server listens
  std::string timeZone = "CST-8";
  std::string shimResult = "ok";
  std::string arguments{};
  std::string locale = "C.UTF-8";
};

class ProgramTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (geteuid() != 0) {
      skipReason_ = "needs root to make network and mount namespaces";
    } else if (!CommandWorks("command -v setpriv ip mount >/dev/null 2>&1")) {
      skipReason_ = "setpriv, ip or mount is missing";
    } else if (!CommandWorks("unshare --net --mount true >/dev/null 2>&1")) {
      skipReason_ = "unshare --net --mount is not available here";
    }
  }

  void SetUp() override {
    if (!skipReason_.empty()) GTEST_SKIP() << skipReason_;
    char pattern[] = "/tmp/timesync-program-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    work_ = pattern;
    WriteFile(work_ / "hosts", "127.0.0.1 localhost www.baidu.com\n::1 localhost\n");
  }

  void TearDown() override {
    if (!work_.empty()) fs::remove_all(work_);
  }

  ProgramRun RunProgram(const RunOptions& options) {
    ProgramRun run;
    if (options.reply) WriteFile(work_ / "reply.http", *options.reply);
    const std::vector<std::pair<std::string, std::string>> environment = {
        {"WORK", work_.string()},          {"SERVE", options.reply ? "1" : ""},
        {"SERVER", TEST_HTTP_SERVER_PATH}, {"PROGRAM", TIMESYNC_PROGRAM_PATH},
        {"SHIM", CLOCK_SHIM_PATH},         {"CHILD_TZ", options.timeZone},
        {"CHILD_LOCALE", options.locale},  {"SHIM_RESULT", options.shimResult},
        {"ARGUMENTS", options.arguments},
    };
    const pid_t child = fork();
    if (child == 0) {
      for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
      execlp("unshare", "unshare", "--net", "--mount", "--", "/bin/sh", "-c", kNamespaceScript,
             static_cast<char*>(nullptr));
      _exit(127);
    }
    if (child < 0) {
      ADD_FAILURE() << "fork failed";
      return run;
    }
    // At most 60 s; then the whole namespace's first process is killed.
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (waitpid(child, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        ADD_FAILURE() << "the run did not end within 60 s";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = ReadFile(work_ / "stdout");
    run.err = ReadFile(work_ / "stderr");
    run.requests = ReadFile(work_ / "requests");
    std::istringstream calls(ReadFile(work_ / "clock"));
    for (std::string line; std::getline(calls, line);) run.clockCalls.push_back(line);
    for (const std::string& call : run.clockCalls) {
      // CAP_SYS_TIME is bit 25 of the effective set: the shim must have stood
      // in for a call the kernel would have refused anyway.
      std::istringstream fields(call);
      long long seconds = 0, nanoseconds = 0;
      std::string capabilities;
      fields >> seconds >> nanoseconds >> capabilities;
      EXPECT_EQ(std::stoull(capabilities, nullptr, 16) & (1ull << 25), 0u) << call;
    }
    return run;
  }

  static std::string Reply(const std::string& headers) {
    return "HTTP/1.1 200 OK\r\n" + headers + "Content-Length: 0\r\nConnection: close\r\n\r\n";
  }

  static std::string skipReason_;
  fs::path work_;
};

std::string ProgramTest::skipReason_;

// 校时完毕 / 时间校正完毕，当前时间：
const std::string kDone = "\xE6\xA0\xA1\xE6\x97\xB6\xE5\xAE\x8C\xE6\xAF\x95\n";
const std::string kDoneText =
    "\xE6\x97\xB6\xE9\x97\xB4\xE6\xA0\xA1\xE6\xAD\xA3\xE5\xAE\x8C\xE6\xAF\x95\xEF\xBC\x8C\xE5\xBD"
    "\x93\xE5\x89\x8D\xE6\x97\xB6\xE9\x97\xB4\xEF\xBC\x9A";
// 校时失败 / 时间校正失败：
const std::string kFailed = "\xE6\xA0\xA1\xE6\x97\xB6\xE5\xA4\xB1\xE8\xB4\xA5\n";
const std::string kFailedText =
    "\xE6\x97\xB6\xE9\x97\xB4\xE6\xA0\xA1\xE6\xAD\xA3\xE5\xA4\xB1\xE8\xB4\xA5\xEF\xBC\x9A";
// 未能获取网络时间
const std::string kNoDate =
    "\xE6\x9C\xAA\xE8\x83\xBD\xE8\x8E\xB7\xE5\x8F\x96\xE7\xBD\x91\xE7\xBB\x9C\xE6\x97\xB6\xE9\x97"
    "\xB4";
// 无法识别网络时间
const std::string kUnreadable =
    "\xE6\x97\xA0\xE6\xB3\x95\xE8\xAF\x86\xE5\x88\xAB\xE7\xBD\x91\xE7\xBB\x9C\xE6\x97\xB6\xE9\x97"
    "\xB4";
// 系统拒绝修改时间，网络时间：
const std::string kRefused =
    "\xE7\xB3\xBB\xE7\xBB\x9F\xE6\x8B\x92\xE7\xBB\x9D\xE4\xBF\xAE\xE6\x94\xB9\xE6\x97\xB6\xE9\x97"
    "\xB4\xEF\xBC\x8C\xE7\xBD\x91\xE7\xBB\x9C\xE6\x97\xB6\xE9\x97\xB4\xEF\xBC\x9A";

TEST_F(ProgramTest, SetsTheClockFromTheDateHeader) {
  const struct {
    const char* name;
    std::string headers;
    std::string timeZone;
    std::string local;
    const char* clockCall;
  } cases[] = {
      {"worked example", "Date: Tue, 13 Jul 2021 20:30:15 GMT\r\n", "CST-8", "2021-07-14 04:30:15",
       "1626208215 0"},
      // A machine in UTC still gets GMT plus 8 hours, read as its local time.
      {"year end, machine in UTC", "Date: Fri, 31 Dec 2021 20:30:15 GMT\r\n", "UTC0",
       "2022-01-01 04:30:15", "1641011415 0"},
      {"X-Date before Date",
       "X-Date: Mon, 01 Jan 2001 00:00:00 GMT\r\nDate: Tue, 13 Jul 2021 20:30:15 GMT\r\n", "CST-8",
       "2021-07-14 04:30:15", "1626208215 0"},
      {"lower-case name", "date: Tue, 13 Jul 2021 20:30:15 GMT\r\n", "CST-8", "2021-07-14 04:30:15",
       "1626208215 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramRun run = RunProgram({.reply = Reply(c.headers), .timeZone = c.timeZone});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, kDone + kDoneText + c.local + "\n")
        << run.err << ReadFile(work_ / "server.log");
    ASSERT_EQ(run.clockCalls.size(), 1u);
    EXPECT_EQ(run.clockCalls[0].substr(0, run.clockCalls[0].rfind(' ')), c.clockCall);
    EXPECT_EQ(run.requests.rfind("HEAD / HTTP/1.1\r\n", 0), 0u) << run.requests;
  }
}

TEST_F(ProgramTest, LeavesTheClockAloneWithoutADate) {
  const struct {
    const char* name;
    std::optional<std::string> reply;
    std::string notice;
  } cases[] = {
      {"no Date header", Reply("Server: test\r\n"), kFailed + kFailedText + kNoDate + "\n"},
      {"garbage Date", Reply("Date: not a date at all\r\n"),
       kFailed + kFailedText + kUnreadable + "\n"},
      {"server unreachable", std::nullopt, kFailed + kFailedText + kNoDate + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramRun run = RunProgram({.reply = c.reply});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, c.notice) << run.err << ReadFile(work_ / "server.log");
    EXPECT_TRUE(run.clockCalls.empty());
  }
}

TEST_F(ProgramTest, SaysSoWhenTheSystemRefusesTheTime) {
  const ProgramRun run = RunProgram(
      {.reply = Reply("Date: Tue, 13 Jul 2021 20:30:15 GMT\r\n"), .shimResult = "refuse"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, kFailed + kFailedText + kRefused + "2021-07-14 04:30:15\n");
  EXPECT_EQ(run.clockCalls.size(), 1u);
}

TEST_F(ProgramTest, WritesCodePage936BytesInAGbkLocale) {
  const ProgramRun run = RunProgram(
      {.reply = Reply("Date: Tue, 13 Jul 2021 20:30:15 GMT\r\n"), .locale = "zh_CN.GBK"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  // 校时完毕 / 时间校正完毕，当前时间：
  EXPECT_EQ(
      run.out,
      "\xD0\xA3\xCA\xB1\xCD\xEA\xB1\xCF\n"
      "\xCA\xB1\xBC\xE4\xD0\xA3\xD5\xFD\xCD\xEA\xB1\xCF\xA3\xAC\xB5\xB1\xC7\xB0\xCA\xB1\xBC\xE4"
      "\xA3\xBA"
      "2021-07-14 04:30:15\n");
}

TEST_F(ProgramTest, HelpAndVersionTouchNeitherNetworkNorClock) {
  const struct {
    const char* arguments;
    int exitStatus;
    const char* outStart;
  } cases[] = {
      {"--help", 0, "Usage: timesync"},
      {"--version", 0, "timesync "},
      {"--now", 2, ""},
      {"--help extra", 2, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const ProgramRun run = RunProgram(
        {.reply = Reply("Date: Tue, 13 Jul 2021 20:30:15 GMT\r\n"), .arguments = c.arguments});
    EXPECT_EQ(run.exitStatus, c.exitStatus);
    EXPECT_EQ(run.out.rfind(c.outStart, 0), 0u) << run.out;
    if (c.exitStatus != 0) {
      EXPECT_NE(run.err.find("timesync --help"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(run.requests.empty());
    EXPECT_TRUE(run.clockCalls.empty());
  }
}

}  // namespace
}  // namespace timesync
