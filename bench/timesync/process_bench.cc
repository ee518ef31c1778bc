// One whole timesync run next to `curl -sI -k` of the same URL.
//
// The program's server URL is fixed, so the benchmark first moves itself into
// a private network and mount namespace (root only): loopback up, a hosts
// file mapping www.baidu.com to 127.0.0.1 bind-mounted over /etc/hosts, and
// test_http_server answering on 127.0.0.1:443. It gives up CAP_SYS_TIME
// before starting any child, and timesync runs with the clock shim preloaded,
// so the real clock is never set. Compare the two lines of one run:
//
//   sudo build/release/bench/timesync/timesync_process_bench
//
// "child_cpu_ms" is the CPU time (user + system) of one run, which a busy
// machine disturbs less than the wall time. The "failed" counter counts runs that did not get the
// time (timesync) or ended with an error (curl); BENCH_SHOW_ERRORS=1 lets their messages through.
//
// TIMESYNC_BENCH_PROGRAM=/path/to/timesync measures another build instead of
// this tree's (to set a change beside the build before it).
//
// BM_SideBySide alternates the two programs run for run, so a change in the
// machine's load falls on both alike, and preloads the clock shim into curl
// as well: loading it is a cost of the measurement, not of either program
// (BM_CurlHead runs curl without it). Its counters give the mean wall and CPU
// milliseconds of each and the ratios timesync / curl ("wall_ratio",
// "cpu_ratio").
#include <benchmark/benchmark.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr const char* kReply =
    "HTTP/1.1 200 OK\r\nDate: Tue, 13 Jul 2021 20:30:15 GMT\r\nContent-Length: 0\r\n"
    "Connection: close\r\n\r\n";

bool DropClockRight() {
  if (prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0) != 0) return false;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  const unsigned bit = 1u << (CAP_SYS_TIME % 32);
  data[CAP_SYS_TIME / 32].effective &= ~bit;
  data[CAP_SYS_TIME / 32].permitted &= ~bit;
  data[CAP_SYS_TIME / 32].inheritable &= ~bit;
  return syscall(SYS_capset, &header, data) == 0;
}

// CPU seconds (user + system) used so far by the children that were waited for.
double ChildCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct RunResult {
  int status = -1;    // exit status, or -1
  double wallMs = 0;  // from fork to the end of the wait
  double cpuMs = 0;   // user + system time of the child
};

double CpuMs(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Waits for `child` at most 30 s (killing it after that); true when it ended.
bool WaitBounded(pid_t child) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
  if (pidfd >= 0) {
    pollfd ended{pidfd, POLLIN, 0};
    int polled;
    do {
      polled = poll(&ended, 1, 30000);
    } while (polled < 0 && errno == EINTR && std::chrono::steady_clock::now() < deadline);
    close(pidfd);
    return polled > 0;
  }
  siginfo_t info{};
  while (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == 0) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return true;
}

// Runs `argv` with stdout and stderr on /dev/null and waits for it (at most
// 30 s).
RunResult RunMeasured(const std::vector<std::string>& argv,
                      const std::vector<std::string>& env = {}) {
  RunResult result;
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    if (std::getenv("BENCH_SHOW_ERRORS") == nullptr) dup2(null, STDERR_FILENO);
    for (const std::string& assignment : env) putenv(const_cast<char*>(assignment.c_str()));
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  if (child < 0) return result;
  if (!WaitBounded(child)) kill(child, SIGKILL);
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return result;
  result.wallMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  result.cpuMs = CpuMs(usage);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// The exit status of `argv` run as above.
int RunQuietly(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
  return RunMeasured(argv, env).status;
}

// The private namespaces, made once for the whole run.
struct LocalNetwork {
  fs::path work;
  std::string error;

  LocalNetwork() {
    if (geteuid() != 0) {
      error = "needs root for the network and mount namespace";
      return;
    }
    char pattern[] = "/tmp/timesync-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      error = "mkdtemp failed";
      return;
    }
    work = pattern;
    std::ofstream(work / "reply.http", std::ios::binary) << kReply;
    std::ofstream(work / "hosts") << "127.0.0.1 localhost www.baidu.com\n";
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount((work / "hosts").c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
      error = "could not make the private network and mount namespace";
      return;
    }
    if (RunQuietly({"ip", "link", "set", "lo", "up"}) != 0) {
      error = "could not bring loopback up";
      return;
    }
    if (!DropClockRight()) error = "could not drop CAP_SYS_TIME";
  }

  ~LocalNetwork() {
    if (!work.empty()) fs::remove_all(work);
  }
};

LocalNetwork& Network() {
  static LocalNetwork network;
  return network;
}

// test_http_server on 127.0.0.1:443 for one benchmark (it serves a bounded
// number of connections in its life, so each benchmark starts its own).
struct LocalServer {
  pid_t server = -1;
  std::string error;

  LocalServer() {
    error = Network().error;
    if (!error.empty()) return;
    const fs::path portFile = Network().work / "port";
    fs::remove(portFile);
    server = fork();
    if (server == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      execl(TEST_HTTP_SERVER_PATH, TEST_HTTP_SERVER_PATH, "--response",
            (Network().work / "reply.http").c_str(), "--address", "127.0.0.1", "--port", "443",
            "--tls", "--port-file", portFile.c_str(), "--max-seconds", "600",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 200 && !fs::exists(portFile); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (!fs::exists(portFile)) error = "test_http_server did not start";
  }

  ~LocalServer() {
    if (server > 0) {
      kill(server, SIGTERM);
      waitpid(server, nullptr, 0);
    }
  }
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;
};

// The program under test: this tree's timesync, or the one that
// TIMESYNC_BENCH_PROGRAM names (another build, measured the same way).
std::string TimesyncProgram() {
  const char* other = std::getenv("TIMESYNC_BENCH_PROGRAM");
  return other != nullptr && *other != '\0' ? other : TIMESYNC_PROGRAM_PATH;
}

// Lines of the clock record: one per clock setting asked for.
std::int64_t CountLines(const fs::path& path) {
  std::ifstream lines(path);
  std::int64_t count = 0;
  for (std::string line; std::getline(lines, line);) ++count;
  return count;
}

constexpr int kRuns = 120;  // below the server's connection limit

// timesync's environment: the clock shim preloaded, reporting success and
// writing one line to `record` (emptied here) for every clock call, in a
// fixed time zone.
std::vector<std::string> ShimEnvironment(const fs::path& record) {
  fs::remove(record);
  return {"LD_PRELOAD=" CLOCK_SHIM_PATH, "TIMESYNC_SHIM_RESULT=ok",
          "TIMESYNC_SHIM_RECORD=" + record.string(), "TZ=CST-8"};
}

void BM_TimesyncRun(benchmark::State& state) {
  const LocalServer server;
  if (!server.error.empty()) {
    state.SkipWithError(server.error.c_str());
    return;
  }
  // timesync exits 0 whatever happened: a run failed when it set no clock.
  const fs::path record = Network().work / "clock";
  const std::vector<std::string> env = ShimEnvironment(record);
  std::int64_t runs = 0;
  const double cpuBefore = ChildCpuSeconds();
  for (auto _ : state) {
    RunQuietly({TimesyncProgram()}, env);
    ++runs;
  }
  state.counters["child_cpu_ms"] = (ChildCpuSeconds() - cpuBefore) * 1000 / kRuns;
  state.counters["failed"] = static_cast<double>(runs - CountLines(record));
}
BENCHMARK(BM_TimesyncRun)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(kRuns);

void BM_CurlHead(benchmark::State& state) {
  const LocalServer server;
  if (!server.error.empty()) {
    state.SkipWithError(server.error.c_str());
    return;
  }
  int failed = 0;
  const double cpuBefore = ChildCpuSeconds();
  for (auto _ : state) {
    if (RunQuietly({"curl", "-sSI", "-k", "https://www.baidu.com/"}) != 0) ++failed;
  }
  state.counters["child_cpu_ms"] = (ChildCpuSeconds() - cpuBefore) * 1000 / kRuns;
  state.counters["failed"] = failed;
}
BENCHMARK(BM_CurlHead)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(kRuns);

// One iteration: one timesync run, then one curl run.
void BM_SideBySide(benchmark::State& state) {
  const LocalServer server;
  if (!server.error.empty()) {
    state.SkipWithError(server.error.c_str());
    return;
  }
  const fs::path record = Network().work / "clock";
  const std::vector<std::string> env = ShimEnvironment(record);
  double timesyncWall = 0, timesyncCpu = 0, curlWall = 0, curlCpu = 0;
  std::int64_t runs = 0;
  int curlFailed = 0;
  for (auto _ : state) {
    const RunResult timesync = RunMeasured({TimesyncProgram()}, env);
    const RunResult curl = RunMeasured({"curl", "-sSI", "-k", "https://www.baidu.com/"},
                                       {"LD_PRELOAD=" CLOCK_SHIM_PATH});
    timesyncWall += timesync.wallMs;
    timesyncCpu += timesync.cpuMs;
    curlWall += curl.wallMs;
    curlCpu += curl.cpuMs;
    if (curl.status != 0) ++curlFailed;
    ++runs;
  }
  if (runs == 0) return;
  state.counters["timesync_ms"] = timesyncWall / runs;
  state.counters["curl_ms"] = curlWall / runs;
  state.counters["wall_ratio"] = timesyncWall / curlWall;
  state.counters["timesync_cpu_ms"] = timesyncCpu / runs;
  state.counters["curl_cpu_ms"] = curlCpu / runs;
  state.counters["cpu_ratio"] = timesyncCpu / curlCpu;
  state.counters["failed"] = static_cast<double>(runs - CountLines(record) + curlFailed);
}
BENCHMARK(BM_SideBySide)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(kRuns);

}  // namespace
