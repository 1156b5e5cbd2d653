#include "sample_backend_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

SampleBackendProcess::SampleBackendProcess(const std::string& dataDir, const std::vector<std::string>& options,
                                           const std::string& errors) {
  // Zedodo access tokens live less than the client's renewal margin, so every authorised call
  // renews one and rotates the refresh token. Few hashing iterations keep the tests fast.
  std::vector<std::string> arguments = {SAMPLE_BACKEND_EXECUTABLE, "--data", dataDir, "--zedodo-token-lifetime", "30",
                                        "--pbkdf2-iterations",     "1000"};
  arguments.insert(arguments.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  // Its request log goes beside its state, for reading after a failure.
  const std::string errorFile = errors.empty() ? dataDir + "/requests.log" : errors;
  int out[2];
  if (pipe(out) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    if (std::freopen(errorFile.c_str(), "w", stderr) == nullptr) _exit(126);
    execv(SAMPLE_BACKEND_EXECUTABLE, argv.data());
    _exit(127);
  }
  close(out[1]);
  if (pid_ < 0) {
    close(out[0]);
    return;
  }
  FILE* lines = fdopen(out[0], "r");
  char line[256];
  while (port_ == 0 && std::fgets(line, sizeof line, lines)) {
    const std::string text(line, std::strcspn(line, "\n"));
    if (text.rfind("DEMO ", 0) == 0) demo_ = text.substr(5);
    std::sscanf(line, "LISTENING %d", &port_);
  }
  std::fclose(lines);
}

std::string SampleBackendProcess::baseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/BrevantTest/";
}

int SampleBackendProcess::stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = -1;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return status;
}

int SampleBackendProcess::wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  const int exited = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  if (exited < 0) return -1;
  pollfd ended{exited, POLLIN, 0};
  const bool done = poll(&ended, 1, static_cast<int>(timeout.count())) == 1;
  close(exited);
  int status = -1;
  if (!done || waitpid(pid_, &status, 0) != pid_) return -1;
  pid_ = -1;
  return status;
}

CommandResult runCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.output.append(buffer, n);
  result.status = pclose(pipe);
  return result;
}

int connectToLoopback(int port, timeval timeout) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  close(fd);
  return -1;
}
