#include "platform/foundation/bundle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class BundleTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_ / "en.lproj"); }
  void TearDown() override {
    Bundle::setMainResourcePath(std::nullopt);
    Bundle::setLocalizedStringsForTesting(std::nullopt);
  }
  void write(const fs::path& relative, const std::string& text) {
    std::ofstream(dir_ / relative, std::ios::binary) << text;
  }

  TempDir tmp_{"bundle"};
  const fs::path dir_ = tmp_.path();
};

}  // namespace

TEST(StringsTableTest, ParsesEscapesCommentsAndFreeWhitespace) {
  auto table = Bundle::parseStringsTable(
      "\xEF\xBB\xBF/* header\n comment */\n"
      "\"plain\" = \"Plain text\";\n"
      "  \"spaced\"\t=\n\"value\"  ;  // trailing comment\n"
      "\"esc\" = \"q\\\"b\\\\n\\nt\\tu\\U00e9\\U20AC\\UD83D\\UDE00\\u00FC\\101\";\n"
      "\"multi\nline\" = \"a\nb\";"
      "unquoted_key = bare.value-1;\n"
      "\"self\";\n"
      "\"dup\" = \"first\"; \"dup\" = \"second\";\n"
      "\"empty\" = \"\";");
  EXPECT_EQ(table, (Bundle::StringsTable{{"plain", "Plain text"},
                                         {"spaced", "value"},
                                         {"esc", "q\"b\\n\nt\tu\u00e9\u20ac\U0001F600\u00fcA"},
                                         {"multi\nline", "a\nb"},
                                         {"unquoted_key", "bare.value-1"},
                                         {"self", "self"},
                                         {"dup", "second"},
                                         {"empty", ""}}));
}

TEST(StringsTableTest, KeepsEntriesBeforeAnError) {
  for (const char* tail : {"\"bad\" = \"no semicolon\"\n\"after\" = \"x\";", "\"bad\" = \"unterminated;",
                           "\"bad\" = \"bad escape \\U12G4\";", "\"bad\" = ;", "\"bad\" \"missing equals\";",
                           "/* unterminated comment", "= \"no key\";", "\"bad\" = \"trailing backslash\\",
                           "\"bad\" = \"lone surrogate \\UD800\"; \"next\" = \"ok\"; #"}) {
    auto table = Bundle::parseStringsTable(std::string("\"kept\" = \"yes\";\n") + tail);
    EXPECT_EQ(table["kept"], "yes") << tail;
    EXPECT_EQ(table.count("after"), 0u) << tail;
  }
  // A lone surrogate is replaced, not an error.
  EXPECT_EQ(Bundle::parseStringsTable("\"s\" = \"\\UD800x\"; \"next\" = \"ok\";"),
            (Bundle::StringsTable{{"s", "\uFFFDx"}, {"next", "ok"}}));
  EXPECT_TRUE(Bundle::parseStringsTable("").empty());
  EXPECT_TRUE(Bundle::parseStringsTable(std::string("\"a\" = \"\0\xff\";", 12)).size() == 1);
}

TEST_F(BundleTest, LocalizedStringsFromTheResourceDirectory) {
  // UTF-16 little endian with a byte-order mark, as strings files often are.
  std::u16string text = u"\"greeting\" = \"Gr\u00fc\u00df dich\";\n\"emoji\" = \"\U0001F600\";";
  std::string raw = "\xFF\xFE";
  for (char16_t u : text) {
    raw += static_cast<char>(u & 0xFF);
    raw += static_cast<char>(u >> 8);
  }
  write("en.lproj/Localizable.strings", raw);
  write("en.lproj/Other.strings", "\"k\" = \"other table\";");
  Bundle::setMainResourcePath(dir_.string());

  EXPECT_EQ(NSLocalizedString("greeting", ""), "Gr\u00fc\u00df dich");
  EXPECT_EQ(NSLocalizedString("emoji", "comment"), "\U0001F600");
  EXPECT_EQ(NSLocalizedString("missing_key", ""), "missing_key");
  EXPECT_EQ(Bundle::main()->localizedStringForKey("missing_key", "fallback"), "fallback");
  EXPECT_EQ(Bundle::main()->localizedStringForKey("k", "", "Other"), "other table");

  Bundle::setLocalizedStringsForTesting(Bundle::StringsTable{{"greeting", "Test hello"}});
  EXPECT_EQ(NSLocalizedString("emoji", ""), "emoji");  // the test table replaces the file
  Bundle::setLocalizedStringsForTesting(std::nullopt);

  // Without any strings file every key reads as itself.
  Bundle::setMainResourcePath((dir_ / "nowhere").string());
  EXPECT_EQ(NSLocalizedString("greeting", ""), "greeting");
}

TEST_F(BundleTest, ResourcesAndInfoDictionary) {
  write("bootstrap-mobil.css", "body{}");
  write("en.lproj/placeholder.png", "png");
  write("Info.json", R"({"CFBundleShortVersionString": "1.2", "Build": 7, "Nested": {"a": [true]}})");
  Bundle bundle(dir_.string());

  EXPECT_EQ(bundle.pathForResource("bootstrap-mobil.css", ""), (dir_ / "bootstrap-mobil.css").string());
  EXPECT_EQ(bundle.pathForResource("bootstrap-mobil", "css"), (dir_ / "bootstrap-mobil.css").string());
  EXPECT_EQ(bundle.pathForResource("placeholder", ".png"), (dir_ / "en.lproj/placeholder.png").string());
  EXPECT_FALSE(bundle.pathForResource("missing", "png") || bundle.pathForResource("", ""));

  EXPECT_EQ(bundle.objectForInfoDictionaryKey("CFBundleShortVersionString"), Value("1.2"));
  EXPECT_EQ(bundle.objectForInfoDictionaryKey("Build"), Value(7));
  EXPECT_EQ(*bundle.objectForInfoDictionaryKey("Nested")->find("a"), Value(Value::Array{Value(true)}));
  EXPECT_FALSE(bundle.objectForInfoDictionaryKey("Missing"));

  write("Info.json", "{ not json");
  EXPECT_TRUE(Bundle(dir_.string()).infoDictionary().empty());
}

TEST_F(BundleTest, MainResourcePathLookup) {
  {
    ScopedEnv resources("DORVALE_RESOURCES", dir_.c_str());
    EXPECT_EQ(Bundle::main()->resourcePath(), dir_.string());
  }
  ScopedEnv unset("DORVALE_RESOURCES", nullptr);
  Bundle::setMainResourcePath(std::nullopt);  // starts afresh
  EXPECT_EQ(Bundle::main()->resourcePath(), (fs::read_symlink("/proc/self/exe").parent_path() / "resources").string());
}

TEST(StringsFileTest, ShippedTableParsesToTheEnd) {
  fs::path file = fs::path(DORVALE_SOURCE_RESOURCES) / "en.lproj/Localizable.strings";
  std::ifstream in(file, std::ios::binary);
  ASSERT_TRUE(in) << file;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t entries = 0;
  for (std::size_t pos = 0; (pos = text.find("\n\"", pos)) != std::string::npos; ++pos) ++entries;
  EXPECT_EQ(Bundle::parseStringsTable(text).size(), entries);  // one entry per line, none lost to an error
  EXPECT_NE(Bundle::parseStringsTable(text).count("network_error_message"), 0u);
}
