#include "platform/json/bind.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/json/mapper.h"

enum class Shade { Dark, Light };

template <>
struct EnumTraits<Shade> {
  static constexpr std::pair<Shade, std::string_view> cases[] = {{Shade::Dark, "dark"}, {Shade::Light, "light"}};
};

namespace {

struct Scalars {
  std::optional<std::string> text;
  std::optional<std::int64_t> integer;
  std::optional<double> real;
  std::optional<bool> flag;
  std::optional<std::vector<std::int64_t>> ids;
  std::optional<Shade> shade;

  void mapping(Map& map) {
    bindField(text, map["text"]), bindField(integer, map["integer"]), bindField(real, map["real"]);
    bindField(flag, map["flag"]), bindField(ids, map["ids"]), bindField(shade, map["shade"]);
  }
};

struct Leaf {
  std::optional<std::int64_t> id;
  void mapping(Map& map) { bindField(id, map["id"]); }
};

struct Tree {
  std::optional<Leaf> leaf;
  std::optional<std::vector<Leaf>> leaves;
  std::optional<std::string> name;

  void mapping(Map& map) {
    bindField(leaf, map["leaf"]), bindField(leaves, map["leaves"]), bindField(name, map["name"]);
  }
};

Scalars scalars(const std::string& json) { return Mapper<Scalars>().map(json).value(); }

JsonValue parsed(const std::string& text) { return JsonValue::parse(text, nullptr, false); }

// A field of the given key read from `{"key":json}`: the accepted texts give their value, the refused
// ones leave the field absent.
template <class T>
void expectRows(std::optional<T> Scalars::*field, const char* key,
                const std::vector<std::pair<std::string, T>>& accepted, std::initializer_list<const char*> refused) {
  auto read = [&](const std::string& json) { return scalars(std::string("{\"") + key + "\":" + json + "}").*field; };
  for (const auto& [json, want] : accepted) EXPECT_EQ(read(json), want) << json;
  for (const char* json : refused) EXPECT_EQ(read(json), std::nullopt) << json;
}

TEST(BindTest, ScalarsTakeOnlyValuesOfTheirType) {
  expectRows<std::int64_t>(
      &Scalars::integer, "integer",
      {{"5", 5},
       {"-3", -3},
       {"5.0", 5},
       {"-2e3", -2000},
       {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
       {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
       {"-9.223372036854775808e18", std::numeric_limits<std::int64_t>::min()}},
      {"5.5", "9223372036854775808", "1e19", "-1e19", "18446744073709551615", "true", "\"5\"", "null", "[5]", "{}"});
  expectRows<double>(&Scalars::real, "real",
                     {{"5", 5.0}, {"-2.25", -2.25}, {"18446744073709551615", 18446744073709551615.0}},
                     {"true", "\"1.5\""});
  expectRows<bool>(&Scalars::flag, "flag", {{"true", true}, {"false", false}, {"1", true}, {"0", false}},
                   {"2", "-1", "1.0", "\"true\""});
  expectRows<std::string>(&Scalars::text, "text", {{R"("caf\u00e9 \"x\"")", "caf\u00e9 \"x\""}, {R"("")", ""}},
                          {"12", "false"});
  using Ids = std::vector<std::int64_t>;
  expectRows<Ids>(&Scalars::ids, "ids", {{"[3,-1,2.0]", Ids{3, -1, 2}}, {"[]", Ids{}}}, {R"([1,"2"])", "[1,2.5]", "7"});
  expectRows<Shade>(&Scalars::shade, "shade", {{R"("dark")", Shade::Dark}, {R"("light")", Shade::Light}},
                    {R"("Dark")", R"("dark ")", R"("")", "0"});
  EXPECT_EQ(rawValue(Shade::Light), "light");
  EXPECT_EQ(enumFromRawValue<Shade>("dark"), Shade::Dark);
}

TEST(BindTest, BadKeysAndBadElementsLeaveTheOthersAlone) {
  const Scalars s = scalars(R"({"shade":"light","flag":"yes","integer":7,"text":null,"extra":[1],"real":0.5})");
  EXPECT_EQ(std::tuple(s.integer, s.real, s.shade), std::tuple(7, 0.5, Shade::Light));
  EXPECT_FALSE(s.flag || s.text || s.ids);

  Tree tree =
      Mapper<Tree>().map(R"({"name":"t","leaves":[{"id":1},7,null,{"id":"x"},[],{"id":3}],"leaf":{"id":9}})").value();
  ASSERT_TRUE(tree.leaf && tree.leaves);
  EXPECT_EQ(tree.leaf->id, 9);
  ASSERT_EQ(tree.leaves->size(), 3u);
  EXPECT_EQ(std::tuple((*tree.leaves)[0].id, (*tree.leaves)[1].id, (*tree.leaves)[2].id, tree.name),
            std::tuple(1, std::nullopt, 3, "t"));

  tree = Mapper<Tree>().map(R"({"leaves":[],"leaf":[]})").value();
  EXPECT_TRUE(!tree.leaf && tree.leaves && tree.leaves->empty());
  for (const char* absent : {R"({})", R"({"leaves":null,"leaf":null})", R"({"leaves":{"id":1},"leaf":"x"})"}) {
    tree = Mapper<Tree>().map(absent).value();
    EXPECT_FALSE(tree.leaf || tree.leaves) << absent;
  }
}

TEST(BindTest, WritingLeavesAbsentFieldsOutAndKeepsFieldOrder) {
  EXPECT_EQ(Mapper<Scalars>().toJSONString(Scalars{}), "{}");

  Scalars s{"a\"b", std::nullopt, std::nullopt, false, std::vector<std::int64_t>{}, Shade::Dark};
  EXPECT_EQ(Mapper<Scalars>().toJSONString(s), R"({"text":"a\"b","flag":false,"ids":[],"shade":"dark"})");

  std::tie(s.real, s.integer) = std::pair(std::numeric_limits<double>::quiet_NaN(), -4);
  EXPECT_EQ(Mapper<Scalars>().toJSONString(s), R"({"text":"a\"b","integer":-4,"flag":false,"ids":[],"shade":"dark"})");
  s.real = -std::numeric_limits<double>::infinity();
  EXPECT_EQ(parsed(Mapper<Scalars>().toJSONString(s)).count("real"), 0u);
  s.real = 2.5;
  EXPECT_EQ(parsed(Mapper<Scalars>().toJSONString(s))["real"], 2.5);

  EXPECT_EQ(Mapper<Tree>().toJSONString(Tree{Leaf{}, std::vector<Leaf>{Leaf{1}, Leaf{}}, std::nullopt}),
            R"({"leaf":{},"leaves":[{"id":1},{}]})");

  // Never invalid JSON, whatever bytes the text holds.
  Scalars odd;
  odd.text = std::string("ok\xff\xc3") + '\0' + "\n";
  const std::string text = Mapper<Scalars>().toJSONString(odd);
  const JsonValue object = parsed(text);
  ASSERT_TRUE(object.is_object()) << text;
  EXPECT_EQ(object["text"], "ok\xEF\xBF\xBD\xEF\xBF\xBD" + std::string(1, '\0') + "\n");
}

}  // namespace
