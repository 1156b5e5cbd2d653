#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "support/temp_dir.h"

namespace {

struct Run {
  std::string output;
  int status = -1;
};

Run runDorvale(const std::string& scriptPath, const std::string& dataDir) {
  std::string command = "DORVALE_RESOURCES='" + std::string(DORVALE_SOURCE_RESOURCES) + "' DORVALE_DATA_DIR='" +
                        dataDir + "' DORVALE_BACKEND_URL='http://127.0.0.1:9/' timeout 60 '" + DORVALE_EXECUTABLE +
                        "' '" + scriptPath + "' 2>&1";
  Run run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
  run.status = pclose(pipe);
  return run;
}

TEST(StartupScriptTest, DorvaleShowsTheStartupSceneAndQuitEndsIt) {
  TempDir dir("dorvale_run");
  std::ofstream(dir.path() / "script.txt") << "show\nquit\nshow\n";
  auto run = runDorvale(dir.str() + "/script.txt", dir.str());
  ASSERT_TRUE(WIFEXITED(run.status)) << run.output;
  EXPECT_EQ(WEXITSTATUS(run.status), 0) << run.output;
  EXPECT_NE(run.output.find("Sign in"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("> show"), std::string::npos) << run.output;
  // Nothing runs after quit.
  EXPECT_EQ(run.output.find("> show"), run.output.rfind("> show")) << run.output;

  // A directory is no script.
  run = runDorvale(dir.str(), dir.str());
  ASSERT_TRUE(WIFEXITED(run.status)) << run.output;
  EXPECT_EQ(WEXITSTATUS(run.status), 1) << run.output;
  EXPECT_NE(run.output.find("Cannot read the script file"), std::string::npos) << run.output;
}

}  // namespace
