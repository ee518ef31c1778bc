#include "support/proxy_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace timesync::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStartAttempts = 3;  // a free port may be taken between choosing and binding it
constexpr auto kTermGrace = std::chrono::seconds(2);
constexpr auto kPollStep = std::chrono::milliseconds(20);

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A port that was free a moment ago on 127.0.0.1; 0 when none could be had.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const sockaddr_in address = Loopback(port);
  const bool connected =
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

TinyProxy::TinyProxy(ProxyOptions options) {
  std::string pattern = (std::filesystem::temp_directory_path() / "timesync-proxy-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return;
  directory_ = pattern;
  for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
    if (Start(options)) return;
  }
}

TinyProxy::~TinyProxy() {
  Stop();
  if (!directory_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
}

bool TinyProxy::Start(const ProxyOptions& options) {
  port_ = FreePort();
  if (port_ == 0) return false;
  const std::filesystem::path directory(directory_);
  {
    std::ofstream config(directory / "tinyproxy.conf", std::ios::trunc);
    config << "Port " << port_ << "\n"
           << "Listen 127.0.0.1\n"
           << "Allow 127.0.0.1\n"
           << "Timeout 60\n"
           << "MaxClients 64\n"
           << "LogFile \"" << (directory / "tinyproxy.log").string() << "\"\n"
           << "LogLevel Info\n"
           << "PidFile \"" << (directory / "tinyproxy.pid").string() << "\"\n";
    // No ConnectPort line: CONNECT is allowed to every port.
    if (!options.user.empty() && !options.password.empty()) {
      config << "BasicAuth " << options.user << " " << options.password << "\n";
    }
    if (!config) return false;
  }

  std::error_code ignored;
  std::filesystem::remove(directory / "tinyproxy.log", ignored);  // from an earlier attempt
  const std::string configPath = (directory / "tinyproxy.conf").string();
  const std::string outputPath = (directory / "tinyproxy.out").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  std::vector<std::string> arguments = {options.program, "-d", "-c", configPath};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned =
      posix_spawn(&pid, options.program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;

  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(options.startTimeoutMs);
  while (Clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return false;  // it ended: port taken or bad config
    // The log line shows that tinyproxy itself holds the port, not some other
    // program that took it after it was chosen.
    if (ReadWhole(directory / "tinyproxy.log").find("listening on fd") != std::string::npos &&
        Accepts(port_)) {
      pid_ = pid;
      return true;
    }
    std::this_thread::sleep_for(kPollStep);
  }
  pid_ = pid;
  Stop();
  return false;
}

void TinyProxy::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  const Clock::time_point deadline = Clock::now() + kTermGrace;
  int status = 0;
  while (Clock::now() < deadline) {
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_ || (done < 0 && errno != EINTR)) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(kPollStep);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

std::string TinyProxy::Address() const { return "127.0.0.1:" + std::to_string(port_); }

std::string TinyProxy::Log() const {
  if (directory_.empty()) return "(no temporary directory)";
  const std::filesystem::path directory(directory_);
  return ReadWhole(directory / "tinyproxy.log") + ReadWhole(directory / "tinyproxy.out");
}

}  // namespace timesync::testing
