#include "platform/foundation/user_defaults.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class UserDefaultsTest : public ::testing::Test {
 protected:
  void TearDown() override { UserDefaults::setApplicationDataDirectory(std::nullopt); }
  void writeFile(const std::string& text) {
    fs::create_directories(fs::path(path_).parent_path());
    std::ofstream(path_, std::ios::binary) << text;
  }

  TempDir tmp_{"defaults"};
  const fs::path dir_ = tmp_.path();
  const std::string path_ = (dir_ / "sub" / "user_defaults.json").string();
};

}  // namespace

TEST_F(UserDefaultsTest, EveryKindSurvivesAReload) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<std::uint8_t>(i));
  Value::Dictionary nested{{"$type", Value("not a tag")}, {"list", Value(Value::Array{Value(1), Value(2.5)})}};
  const std::pair<std::string, Value> entries[] = {
      {"bool", Value(true)},
      {"int", Value(-9007199254740993LL)},
      {"real", Value(1.0)},
      {"tiny", Value(0.1)},
      {"inf", Value(HUGE_VAL)},
      {"text", Value("Gr\u00fc\u00dfe \"quoted\"\n")},
      {"bad-utf8", Value(std::string("a\xff\xfe", 3))},
      {"data", Value(Data(bytes))},
      {"empty-data", Value(Data())},
      {"date", Value(Date{467556300.25})},
      {"dict", Value(nested)},
      {"array", Value(Value::Array{Value("x"), Value(Date{0}), Value(Value::Array{})})},
      {std::string("key\xc0", 4), Value(Value::Dictionary{{std::string("\xff"), Value(1)}})},
  };
  {
    UserDefaults defaults(path_);
    for (const auto& [k, v] : entries) defaults.setObject(v, k);
    defaults.setObject(Value(std::nan("")), "nan");
    defaults.setObject(Value(5), "removed");
    defaults.removeObjectForKey("removed");
    defaults.setObject(Value(5), "nulled");
    defaults.setObject(Value(), "nulled");
    EXPECT_TRUE(defaults.synchronize());
  }
  UserDefaults reloaded(path_);
  for (const auto& [k, v] : entries) {
    auto got = reloaded.objectForKey(k);
    ASSERT_TRUE(got) << k;
    EXPECT_EQ(*got, v) << k << ": " << got->description();
  }
  EXPECT_TRUE(reloaded.objectForKey("real")->isReal() && std::isnan(reloaded.doubleForKey("nan")));
  EXPECT_FALSE(reloaded.objectForKey("removed") || reloaded.objectForKey("nulled"));
  // The write went through a temporary file that is gone now.
  EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(path_).parent_path()), fs::directory_iterator()), 1);
}

TEST_F(UserDefaultsTest, TypedReadsConvertLikeThePlatform) {
  UserDefaults d(path_);
  for (const auto& [k, v] : {std::pair{"yes", Value("YES")},
                             {"numtext", Value(" 42abc")},
                             {"real", Value(2.9)},
                             {"huge", Value(1e300)},
                             {"int", Value(7)},
                             {"data", Value(Data::fromString("x"))},
                             {"array", Value(Value::Array{Value(1)})}})
    d.setObject(v, k);

  EXPECT_EQ(std::tuple(d.boolForKey("yes"), d.boolForKey("numtext"), d.boolForKey("real"), d.boolForKey("data"),
                       d.boolForKey("missing")),
            std::tuple(true, true, true, false, false));
  EXPECT_EQ(
      std::tuple(d.integerForKey("numtext"), d.integerForKey("real"), d.integerForKey("huge"), d.integerForKey("yes")),
      std::tuple(42, 2, INT64_MAX, 0));
  EXPECT_EQ(std::tuple(d.doubleForKey("int"), d.doubleForKey("numtext"), d.stringForKey("int"), d.dataForKey("data"),
                       d.arrayForKey("array")),
            std::tuple(7.0, 42.0, "7", Data::fromString("x"), Value::Array{Value(1)}));
  EXPECT_FALSE(d.stringForKey("data") || d.dataForKey("yes") || d.arrayForKey("int") || d.dictionaryForKey("array"));
}

TEST_F(UserDefaultsTest, CorruptFilesReadAsEmptyAndBadEntriesAsAbsent) {
  for (const char* corrupt :
       {"{\"a\": 1", "[1, 2]", "\"text\"", "", "\xff\xfe{}", R"({"a": {"$type": "data", "value": "!!!!"}})",
        R"({"a": {"$type": "unknown", "value": 1}})", R"({"a": {"$type": "date", "value": "yesterday"}})"}) {
    writeFile(corrupt);
    UserDefaults d(path_);
    EXPECT_FALSE(d.objectForKey("a")) << corrupt;
    d.setObject(Value(1), "b");
    EXPECT_EQ(UserDefaults(path_).integerForKey("b"), 1) << corrupt;
  }
  writeFile(std::string(100000, '[') + std::string(100000, ']'));
  EXPECT_FALSE(UserDefaults(path_).objectForKey("b"));

  // One unreadable entry costs only itself, also one nested deeper than a reload accepts.
  writeFile(R"({"kept": 7, "a": {"$type": "unknown", "value": 1}})");
  Value deep(1);
  for (int i = 0; i < 600; ++i) deep = Value(Value::Array{deep});
  UserDefaults(path_).setObject(deep, "deep");
  UserDefaults reloaded(path_);
  EXPECT_TRUE(reloaded.integerForKey("kept") == 7 && !reloaded.objectForKey("a") && !reloaded.objectForKey("deep"));
}

TEST_F(UserDefaultsTest, FailedWritesKeepValuesAndReportThroughSynchronize) {
  UserDefaults d("/dev/null/cannot/user_defaults.json");
  d.setObject(Value("kept"), "k");
  EXPECT_EQ(std::pair(d.stringForKey("k"), d.synchronize()), std::pair(std::optional<std::string>("kept"), false));
}

TEST_F(UserDefaultsTest, StandardFollowsTheDataDirectory) {
  {
    ScopedEnv data("DORVALE_DATA_DIR", "/srv/dorvale-data");
    EXPECT_EQ(UserDefaults::applicationDataDirectory(), "/srv/dorvale-data");
  }
  {
    ScopedEnv data("DORVALE_DATA_DIR", nullptr);
    ScopedEnv xdg("XDG_DATA_HOME", "/xdg");
    EXPECT_EQ(UserDefaults::applicationDataDirectory(), "/xdg/dorvale");
    ScopedEnv relativeXdg("XDG_DATA_HOME", "relative");
    ScopedEnv home("HOME", "/home/student");
    EXPECT_EQ(UserDefaults::applicationDataDirectory(), "/home/student/.local/share/dorvale");
  }

  UserDefaults::setApplicationDataDirectory(dir_.string());
  auto standard = UserDefaults::standard();
  EXPECT_EQ(standard->filePath(), (dir_ / "user_defaults.json").string());
  standard->setObject(Value(Value::Array{Value("session-1")}), "com.dorvale.downloads");

  UserDefaults::setApplicationDataDirectory((dir_ / "other").string());
  EXPECT_FALSE(UserDefaults::standard()->objectForKey("com.dorvale.downloads"));
  UserDefaults::setApplicationDataDirectory(dir_.string());
  EXPECT_EQ(UserDefaults::standard()->arrayForKey("com.dorvale.downloads"), (Value::Array{Value("session-1")}));
}

TEST_F(UserDefaultsTest, ConcurrentWritersLoseNothing) {
  auto d = std::make_shared<UserDefaults>(path_);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([d, t] {
      for (int i = 0; i < 10; ++i) d->setObject(Value(t * 10 + i), std::to_string(t * 10 + i));
    });
  for (auto& th : threads) th.join();
  UserDefaults reloaded(path_);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(reloaded.integerForKey(std::to_string(i)), i);
}
