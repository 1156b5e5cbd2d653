// A browser that shows nothing (or a tab the student closed) must not hold the console: with one
// that ends at once, each command of scripts/browser_shows_nothing.txt answers well within a
// second, however long the sign-in goes on waiting in the browser.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sample_backend_process.h"
#include "support/temp_dir.h"

namespace {

using Steady = std::chrono::steady_clock;

struct Printed {
  std::string line;
  Steady::time_point at;
};

// How long each command took: from the end of what was printed before its echo to the end of what
// it printed, by the command as echoed.
std::vector<std::pair<std::string, double>> commandTimes(const std::vector<Printed>& printed) {
  std::vector<std::pair<std::string, double>> times;
  std::optional<Steady::time_point> before;
  std::string command;
  Steady::time_point last{};
  for (const auto& [line, at] : printed) {
    if (line.rfind("> ", 0) == 0) {
      if (before && !command.empty())
        times.emplace_back(command, std::chrono::duration<double>(last - *before).count());
      before = last;
      command = line.substr(2, line.find('\n') - 2);
    }
    last = at;
  }
  if (before && !command.empty()) times.emplace_back(command, std::chrono::duration<double>(last - *before).count());
  return times;
}

TEST(BrowserWaitTest, ASignInWaitingInABrowserThatShowsNothingHoldsNoCommand) {
  TempDir dir("browser-wait");
  const std::string backendData = dir.str() + "/backend";
  std::filesystem::create_directories(backendData);
  SampleBackendProcess backend(backendData);
  ASSERT_GT(backend.port(), 0);
  const std::string root = "http://127.0.0.1:" + std::to_string(backend.port()) + "/";
  const std::string command =
      "DORVALE_RESOURCES='" DORVALE_SOURCE_RESOURCES "' DORVALE_DATA_DIR='" + dir.str() +
      "/client' DORVALE_BACKEND_URL='" + backend.baseUrl() +
      "' DORVALE_BROWSER=/bin/true DORVALE_FACEBOOK_APP_ID=dorvale-sample-app DORVALE_AUDIO_DEVICE=null "
      "DORVALE_FACEBOOK_DIALOG_URL='" +
      root +
      "facebook/dialog/oauth' timeout 120 '" DORVALE_EXECUTABLE "' '" E2E_SCRIPTS_DIR
      "/browser_shows_nothing.txt' 2>>'" +
      dir.str() + "/client.log'";
  FILE* program = ::popen(command.c_str(), "r");
  ASSERT_NE(program, nullptr);
  std::vector<Printed> printed;
  std::string all;
  char buffer[8192];
  while (std::fgets(buffer, sizeof buffer, program)) {
    printed.push_back({buffer, Steady::now()});
    all += buffer;
  }
  const int status = ::pclose(program);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << all;

  const auto times = commandTimes(printed);
  ASSERT_GE(times.size(), 3u) << all;
  EXPECT_EQ(times[0].first, "tap fbLoginButton");
  EXPECT_LT(times[0].second, 1.0) << all;
  EXPECT_EQ(times[1].first, "show");
  EXPECT_LT(times[1].second, 1.0) << all;
  EXPECT_NE(all.find("The sign-in waits in the browser: finish it there, or type 'cancel' to give up. If no page came "
                     "up, open this address: " +
                     root + "facebook/dialog/oauth?client_id=dorvale-sample-app&redirect_uri=http://127.0.0.1:"),
            std::string::npos)
      << all;
  EXPECT_EQ(all.find("still busy"), std::string::npos) << all;
  EXPECT_NE(all.find("> cancel\nThe Facebook sign-in that waited in the browser was given up.\n"), std::string::npos)
      << all;
}

}  // namespace
