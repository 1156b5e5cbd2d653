#include "platform/json/mapper.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace {

struct Item {
  std::optional<std::int64_t> id;
  std::optional<std::string> name;

  void mapping(Map& map) { bindField(id, map["id"]), bindField(name, map["name"]); }
};

TEST(MapperTest, MapGivesARecordOnlyForAnObject) {
  const std::optional<Item> item = Mapper<Item>().map("\xEF\xBB\xBF {\"name\":\"a\",\"id\":2}\n");
  ASSERT_TRUE(item);
  EXPECT_EQ(std::pair(item->id, item->name), std::pair(std::optional<std::int64_t>(2), std::optional<std::string>("a")));
  EXPECT_TRUE(Mapper<Item>().map("{}"));

  for (const char* text : {"", " ", "null", "7", "\"{}\"", "[]", "[{\"id\":1}]", "{\"id\":1", "{\"id\":1} x",
                           "{\"id\":1}{}", "<html><body>502</body></html>", "{\"id\":1e400}", "{'id':1}"})
    EXPECT_FALSE(Mapper<Item>().map(text)) << text;
}

TEST(MapperTest, MapArrayKeepsOrderAndNeverFails) {
  const auto items = Mapper<Item>().mapArray(R"([{"id":1},{"id":2,"name":"b"},{}])");
  ASSERT_EQ(items.size(), 3u);
  EXPECT_TRUE(items[0].id == 1 && items[1].name == "b" && !items[2].id);

  EXPECT_EQ(Mapper<Item>().mapArray(R"([1,"x",null,[{"id":4}],{"id":5}])").size(), 1u);
  for (const char* text : {"", "[]", "{\"id\":1}", "null", "3", "[{\"id\":1},", "[{}] ]", "\xff\xfe"})
    EXPECT_TRUE(Mapper<Item>().mapArray(text).empty()) << text;
}

TEST(MapperTest, DeepNestingIsRejectedWithoutCrashing) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_TRUE(Mapper<Item>().mapArray(deep).empty());
  EXPECT_FALSE(Mapper<Item>().map("{\"id\":" + deep + "}")->id);
}

// Reading must not look up every key it inserts: 50,000 keys would then take minutes.
TEST(MapperTest, AnObjectWithVeryManyKeysReadsQuickly) {
  std::string text = "{";
  for (int i = 0; i < 50000; ++i) text += "\"k" + std::to_string(i) + "\":0,";
  text += "\"name\":\"last\",\"id\":2,\"id\":3}";
  const std::optional<Item> item = Mapper<Item>().map(text);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->name, "last");
  EXPECT_EQ(item->id, 3) << "a repeated key: the last one counts";
}

}  // namespace
