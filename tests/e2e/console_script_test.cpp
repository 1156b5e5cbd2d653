// Each scripts/NAME.txt is typed into the real client, which runs on a fresh sample backend; what
// the client prints must equal scripts/NAME.expected (it ends with 1 when that holds a "! " line,
// else 0), and when scripts/NAME.backend exists, what the backend recorded (sample_backend --dump)
// must equal it. The backend's address prints as BACKEND/. To write the expected files from a
// run, set DORVALE_E2E_UPDATE=1.
// A scripts/NAME.2.txt runs next, in a second client on the same client data and backend, with its
// own NAME.2.expected: what a user finds on starting the program again. A scripts/NAME.options
// holds command-line options for that script's backend (a short token lifetime, say). Sound plays
// into ALSA's null device, so that no transcript depends on the machine's sound. A script that
// signs in through a browser has a scripts/NAME.browser: its browser is the test browser, which
// follows the provider's pages on 127.0.0.1; when that file says --first-waits, the first page
// opened waits until a later one has been followed. Every other script's browser starts and
// fetches nothing, so that the links and documents it opens reach nowhere. What differs from run
// to run in a sign-in page's address prints as PORT and RANDOM.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <vector>

#include "sample_backend_process.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> scriptNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(E2E_SCRIPTS_DIR))
    if (entry.path().extension() == ".txt" && entry.path().stem().extension().empty())
      names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::string> readFile(const fs::path& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// A sign-in's address as printed: the loopback port and the values drawn for each sign-in vary.
std::string withoutRandomParts(const std::string& text) {
  static const std::regex port("127\\.0\\.0\\.1(:|%3A)[0-9]+");
  static const std::regex drawn("([?&](state|code_challenge)=)[^&\\s]+");
  return std::regex_replace(std::regex_replace(text, port, "127.0.0.1$1PORT"), drawn, "$1RANDOM");
}

// Compares with the file, or writes it in update mode.
void expectFile(const fs::path& path, const std::string& actual) {
  if (std::getenv("DORVALE_E2E_UPDATE")) {
    std::ofstream(path) << actual;
    return;
  }
  auto expected = readFile(path);
  ASSERT_TRUE(expected) << "missing " << path << "; this run printed:\n" << actual;
  EXPECT_EQ(actual, *expected) << "in " << path;
}

class ConsoleScriptTest : public testing::TestWithParam<std::string> {};

TEST_P(ConsoleScriptTest, PrintsTheExpectedScreens) {
  const fs::path scripts = E2E_SCRIPTS_DIR;
  TempDir dir("e2e");
  const std::string backendData = dir.str() + "/backend";
  const std::string clientData = dir.str() + "/client";
  fs::create_directories(backendData);

  std::vector<std::string> options;
  std::istringstream optionWords(readFile(scripts / (GetParam() + ".options")).value_or(""));
  for (std::string word; optionWords >> word;) options.push_back(word);
  SampleBackendProcess backend(backendData, options);
  ASSERT_GT(backend.port(), 0) << readFile(backendData + "/requests.log").value_or("");
  const std::string root = "http://127.0.0.1:" + std::to_string(backend.port()) + "/";
  const auto browserNote = readFile(scripts / (GetParam() + ".browser"));
  std::string browser = browserNote ? TEST_BROWSER_PATH : "true";
  if (browserNote && browserNote->find("--first-waits") != std::string::npos)
    browser += " --first-waits " + dir.str() + "/browser.socket";
  // From the scripts' own folder, so a script names its files (a picture to pick) by their plain names.
  auto runScript = [&](const std::string& name) {
    auto run = runCommand(
        "cd '" + scripts.string() + "' && DORVALE_RESOURCES='" DORVALE_SOURCE_RESOURCES "' DORVALE_DATA_DIR='" +
        clientData + "' DORVALE_BACKEND_URL='" + backend.baseUrl() + "' DORVALE_BROWSER='" + browser +
        "' DORVALE_FACEBOOK_APP_ID=dorvale-sample-app DORVALE_AUDIO_DEVICE=null"
        " DORVALE_FACEBOOK_DIALOG_URL='" +
        root + "facebook/dialog/oauth' DORVALE_FACEBOOK_GRAPH_URL='" + root + "facebook/graph/' DORVALE_ZEDODO_URL='" +
        root + "zedodo' timeout 120 '" DORVALE_EXECUTABLE "' '" + (scripts / (name + ".txt")).string() + "' 2>>'" +
        dir.str() + "/client.log'");
    const std::string log = readFile(dir.str() + "/client.log").value_or("");
    // A script whose commands failed (printed a "! " line) ends with 1.
    const auto transcript = "\n" + readFile(scripts / (name + ".expected")).value_or(run.output);
    const int status = transcript.find("\n! ") == std::string::npos ? 0 : 1;
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == status) << name << ":\n" << log;
    expectFile(scripts / (name + ".expected"),
               withoutRandomParts(replaceAll(run.output, backend.baseUrl(), "BACKEND/")));
  };
  runScript(GetParam());
  if (fs::exists(scripts / (GetParam() + ".2.txt"))) runScript(GetParam() + ".2");
  const int backendStatus = backend.stop();

  EXPECT_TRUE(WIFEXITED(backendStatus) && WEXITSTATUS(backendStatus) == 0) << "the backend did not stop cleanly";

  if (fs::exists(scripts / (GetParam() + ".backend"))) {
    auto dump = runCommand("'" SAMPLE_BACKEND_EXECUTABLE "' --dump --data '" + backendData + "'");
    expectFile(scripts / (GetParam() + ".backend"), dump.output);
  }
}

INSTANTIATE_TEST_SUITE_P(Scripts, ConsoleScriptTest, testing::ValuesIn(scriptNames()),
                         [](const testing::TestParamInfo<std::string>& script) {
                           std::string name = script.param;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
