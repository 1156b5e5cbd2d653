#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct Run {
  std::string output;
  int status = -1;
};

Run runDorvale(const std::string& script, const std::string& dataDir) {
  auto scriptPath = dataDir + "/script.txt";
  std::ofstream(scriptPath) << script;
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
  char pattern[] = "/tmp/dorvale_run_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  auto run = runDorvale("show\nquit\nshow\n", pattern);
  std::filesystem::remove_all(pattern);

  ASSERT_TRUE(WIFEXITED(run.status)) << run.output;
  EXPECT_EQ(WEXITSTATUS(run.status), 0) << run.output;
  EXPECT_NE(run.output.find("Sign in"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("> show"), std::string::npos) << run.output;
  // Nothing runs after quit.
  EXPECT_EQ(run.output.find("> show"), run.output.rfind("> show")) << run.output;
}

}  // namespace
