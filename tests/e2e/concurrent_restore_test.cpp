// Several programs started at once on one client data directory, after a kept Zedodo sign-in.
// Each renewal rotates the refresh token, and the provider ends the whole grant when a used one
// comes back later than a retry would, so a program that reads the keychain between another's
// delete and add, or presents a token that another rotated long before, starts signed out.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sample_backend_process.h"
#include "support/temp_dir.h"

namespace {

constexpr int kPrograms = 8;
constexpr int kRounds = 5;

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string clientCommand(const SampleBackendProcess& backend, const std::string& data, const std::string& script,
                          const std::string& log) {
  const std::string root = "http://127.0.0.1:" + std::to_string(backend.port()) + "/";
  return "DORVALE_RESOURCES='" DORVALE_SOURCE_RESOURCES "' DORVALE_DATA_DIR='" + data + "' DORVALE_BACKEND_URL='" +
         backend.baseUrl() + "' DORVALE_BROWSER='" TEST_BROWSER_PATH "' DORVALE_AUDIO_DEVICE=null DORVALE_ZEDODO_URL='" +
         root + "zedodo' timeout 120 '" DORVALE_EXECUTABLE "' '" + script + "' 2>>'" + log + "'";
}

TEST(ConcurrentRestoreTest, ProgramsStartedAtOnceAllRestoreTheKeptZedodoSignIn) {
  TempDir dir("restore");
  const std::string backendData = dir.str() + "/backend", clientData = dir.str() + "/client";
  std::filesystem::create_directories(backendData);
  SampleBackendProcess backend(backendData);
  ASSERT_GT(backend.port(), 0) << readFile(backendData + "/requests.log");
  const std::string log = dir.str() + "/client.log";
  auto signIn = runCommand(clientCommand(backend, clientData, E2E_SCRIPTS_DIR "/zedodo_sign_in.txt", log));
  ASSERT_NE(signIn.output.find("=== Profile === [Sign out]"), std::string::npos) << signIn.output << readFile(log);

  const std::string restore = dir.str() + "/restore.txt";
  std::ofstream(restore) << "tab 4\nquit\n";
  for (int round = 1; round <= kRounds; ++round) {
    std::vector<FILE*> programs;
    for (int i = 0; i < kPrograms; ++i)
      programs.push_back(::popen(clientCommand(backend, clientData, restore, log).c_str(), "r"));
    for (int i = 0; i < kPrograms; ++i) {
      ASSERT_NE(programs[i], nullptr);
      std::string output;
      char buffer[4096];
      for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, programs[i])) > 0;) output.append(buffer, n);
      const int status = ::pclose(programs[i]);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round << ", program " << i;
      EXPECT_NE(output.find("=== Profile === [Sign out]"), std::string::npos)
          << "round " << round << ", program " << i << " started signed out:\n"
          << output;
    }
  }
  backend.stop();
  const std::string requests = readFile(backendData + "/requests.log");
  EXPECT_EQ(requests.find("/oauth2/token -> 400"), std::string::npos) << "a refresh token was refused:\n" << requests;
}

}  // namespace
