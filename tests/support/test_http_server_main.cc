// test_http_server: answers every request with the exact bytes of a file.
//
// For tests that run whole programs (for example inside a network namespace):
//
//   test_http_server --response reply.http --address 10.0.0.1 --port 80
//                    --record requests.bin --max-seconds 30 [--tls] [--port-file port.txt]
//
// Each connection gets one request read and the file's bytes written back,
// then the connection is closed. Every request's raw bytes are appended to
// the --record file as they arrive. The program ends on SIGTERM or SIGINT, or
// after --max-seconds, and exits 0; it exits 2 on a usage error.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>

#include "support/test_server.h"

int main(int argc, char** argv) {
  using timesync::testing::Connection;
  using timesync::testing::ScriptedServer;

  CLI::App app("Answers every HTTP request with the exact bytes of a file.", "test_http_server");
  std::string responsePath;
  std::string recordPath;
  std::string portFile;
  timesync::testing::ServerOptions options;
  int maxSeconds = 60;
  app.add_option("--response", responsePath, "file whose bytes are sent back")
      ->required()
      ->check(CLI::ExistingFile);
  app.add_option("--address", options.address, "numeric address to listen on")
      ->capture_default_str();
  app.add_option("--port", options.port, "port to listen on; 0 picks a free one")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  app.add_flag("--tls", options.tls, "serve HTTPS with a self-signed certificate");
  app.add_option("--record", recordPath, "file the raw requests are appended to");
  app.add_option("--port-file", portFile, "file the listening port is written to");
  app.add_option("--max-seconds", maxSeconds, "exit after this many seconds")
      ->check(CLI::Range(1, 86400))
      ->capture_default_str();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? 0 : 2;
  }

  std::ifstream responseFile(responsePath, std::ios::binary);
  std::ostringstream responseText;
  responseText << responseFile.rdbuf();
  const std::string response = responseText.str();

  // Blocked before the server's threads start, so only sigtimedwait below sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::mutex recordMutex;
  std::ofstream record;
  if (!recordPath.empty()) {
    record.open(recordPath, std::ios::binary | std::ios::app);
    if (!record) {
      std::cerr << "test_http_server: cannot open " << recordPath << "\n";
      return 2;
    }
  }
  options.certificate = timesync::testing::TestCertificate::kSelfSigned;
  ScriptedServer server(options, [&](Connection& connection) {
    const auto request = connection.ReadRequest();
    if (!request) return;
    if (record.is_open()) {
      const std::lock_guard lock(recordMutex);
      record << request->raw;
      record.flush();
    }
    connection.Write(response);
    connection.Close();
  });
  if (!portFile.empty()) {
    std::ofstream(portFile) << server.port() << "\n";
  }
  std::cout << "listening on " << server.Url("/") << std::endl;

  timespec limit{maxSeconds, 0};
  int signal = -1;
  do {
    signal = sigtimedwait(&stopSignals, nullptr, &limit);
  } while (signal < 0 && errno == EINTR);
  return 0;
}
