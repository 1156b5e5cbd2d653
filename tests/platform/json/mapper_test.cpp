#include "platform/json/mapper.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Item {
  std::optional<std::int64_t> id;
  std::optional<std::string> name;

  void mapping(Map& map) { bindField(id, map["id"]), bindField(name, map["name"]); }
};

TEST(MapperTest, MapGivesARecordOnlyForAnObject) {
  const std::optional<Item> item = Mapper<Item>().map("\xEF\xBB\xBF {\"name\":\"a\",\"id\":2,\"id\":3}\n");
  ASSERT_TRUE(item);
  // A repeated key: the last one counts.
  EXPECT_EQ(std::pair(item->id, item->name),
            std::pair(std::optional<std::int64_t>(3), std::optional<std::string>("a")));
  // Nesting too deep to read is an absent field, not a crash.
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  for (const std::string& text : {std::string("{}"), "{\"id\":" + deep + "}"}) {
    const std::optional<Item> read = Mapper<Item>().map(text);
    ASSERT_TRUE(read) << text.substr(0, 10);
    EXPECT_FALSE(read->id);
  }

  for (const char* text : {"", " ", "null", "7", "\"{}\"", "[]", "[{\"id\":1}]", "{\"id\":1", "{\"id\":1} x",
                           "{\"id\":1}{}", "<html><body>502</body></html>", "{\"id\":1e400}", "{'id':1}"})
    EXPECT_FALSE(Mapper<Item>().map(text)) << text;
}

TEST(MapperTest, MapArrayKeepsOrderAndNeverFails) {
  const auto items = Mapper<Item>().mapArray(R"([{"id":1},{"id":2,"name":"b"},{}])");
  ASSERT_EQ(items.size(), 3u);
  EXPECT_TRUE(items[0].id == 1 && items[1].name == "b" && !items[2].id);

  EXPECT_EQ(Mapper<Item>().mapArray(R"([1,"x",null,[{"id":4}],{"id":5}])").size(), 1u);
  for (const std::string& text :
       std::vector<std::string>{"", "[]", "{\"id\":1}", "null", "3", "[{\"id\":1},", "[{}] ]", "\xff\xfe",
                                std::string(100000, '[') + std::string(100000, ']')})
    EXPECT_TRUE(Mapper<Item>().mapArray(text).empty()) << text.substr(0, 10);

  // Objects are handed over as they are read: only a top-level array's own objects are elements.
  const auto marked = Mapper<Item>().mapArrayIfArray("\xEF\xBB\xBF [{\"id\":6,\"name\":{\"id\":7}},{\"id\":8}]");
  ASSERT_TRUE(marked && marked->size() == 2u);
  EXPECT_TRUE((*marked)[0].id == 6 && !(*marked)[0].name && (*marked)[1].id == 8);
  EXPECT_FALSE(Mapper<Item>().mapArrayIfArray(R"({"a":{"id":1},"b":[{"id":2}]})"));
  EXPECT_FALSE(Mapper<Item>().mapArrayIfArray(R"([{"id":1}] {"id":2})"));
  const auto none = Mapper<Item>().mapArrayIfArray(" [] ");
  EXPECT_TRUE(none && none->empty());
}

TEST(MapperTest, ArrayElementsComeWholeWithTheirNestedListsOfObjects) {
  // A question and its answers: objects in arrays in objects, every kind of value, a key given twice.
  const std::vector<std::string> elements = {
      R"({"id":1,"answer":[{"id":11,"ok":true},{"id":12,"ok":false,"text":"b"}],"id":2})",
      R"({"a":[[],[{"b":[1,{"c":null}]},[true,2.5,-3,18446744073709551615]]],"d":{"e":"x","f":{}},"g":[]})",
      R"({})"};
  std::string text = "[7,";
  for (const auto& element : elements) text += element + ",[{\"skip\":1}],";
  text += "\"end\"]";
  std::vector<JsonValue> read;
  ASSERT_TRUE(json_detail::parseArrayObjects(text, [&read](const JsonValue& object) { read.push_back(object); }));
  ASSERT_EQ(read.size(), elements.size());
  for (std::size_t i = 0; i < elements.size(); ++i) EXPECT_EQ(read[i], json_detail::parseJSON(elements[i])) << i;

  // Cut short or followed by more: not an array.
  for (const std::string& broken : {text.substr(0, text.size() - 1), text + "]", text.substr(0, 40)})
    EXPECT_FALSE(json_detail::parseArrayObjects(broken, [](const JsonValue&) {})) << broken;
}

}  // namespace
