#pragma once

#include <sys/time.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// The sample backend as a child process on an ephemeral port of 127.0.0.1, keeping its state in
// `dataDir`, with a lowered password hashing cost and any `options` of its command line; its
// standard error goes to the file `errors`, by default requests.log in `dataDir`. It is stopped
// when the object goes, and also when the test process dies.
class SampleBackendProcess {
 public:
  explicit SampleBackendProcess(const std::string& dataDir, const std::vector<std::string>& options = {},
                                const std::string& errors = "");
  ~SampleBackendProcess() { stop(); }
  SampleBackendProcess(const SampleBackendProcess&) = delete;
  SampleBackendProcess& operator=(const SampleBackendProcess&) = delete;

  // 0 when it did not come up.
  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  // What its DEMO line offered: "<e-mail> <password>", or the e-mail alone.
  const std::string& demo() const { return demo_; }
  // "http://127.0.0.1:PORT/BrevantTest/"
  std::string baseUrl() const;
  // SIGTERM, then its wait status (-1 when it is not running).
  int stop();
  // Its wait status once it ends by itself within `timeout`, else -1 (and it runs on).
  int wait(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string demo_;
};

struct CommandResult {
  std::string output;  // standard output only
  int status = -1;     // as from waitpid
};

// Runs `command` in the shell and collects its standard output.
CommandResult runCommand(const std::string& command);

// A plain TCP connection to 127.0.0.1:`port` whose reads and writes give up after `timeout`, or -1:
// for what an HTTP client library would not send.
int connectToLoopback(int port, timeval timeout);
