#include "platform/json/bind.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/json/mapper.h"

namespace {

enum class Shade { Dark, Light };

}  // namespace

template <>
struct EnumTraits<Shade> {
  static constexpr std::pair<Shade, std::string_view> cases[] = {{Shade::Dark, "dark"},
                                                                 {Shade::Light, "light"}};
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
    bindField(text, map["text"]);
    bindField(integer, map["integer"]);
    bindField(real, map["real"]);
    bindField(flag, map["flag"]);
    bindField(ids, map["ids"]);
    bindField(shade, map["shade"]);
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
    bindField(leaf, map["leaf"]);
    bindField(leaves, map["leaves"]);
    bindField(name, map["name"]);
  }
};

Scalars scalars(const std::string& json) { return Mapper<Scalars>().map(json).value(); }

JsonValue parsed(const std::string& text) { return JsonValue::parse(text, nullptr, false); }

TEST(BindTest, IntegersTakeWholeNumbersInRangeOnly) {
  EXPECT_EQ(scalars(R"({"integer":5})").integer, 5);
  EXPECT_EQ(scalars(R"({"integer":-3})").integer, -3);
  EXPECT_EQ(scalars(R"({"integer":5.0})").integer, 5);
  EXPECT_EQ(scalars(R"({"integer":-2e3})").integer, -2000);
  EXPECT_EQ(scalars(R"({"integer":9223372036854775807})").integer, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(scalars(R"({"integer":-9223372036854775808})").integer, std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(scalars(R"({"integer":-9.223372036854775808e18})").integer,
            std::numeric_limits<std::int64_t>::min());
  for (const char* bad :
       {R"({"integer":5.5})", R"({"integer":9223372036854775808})", R"({"integer":1e19})",
        R"({"integer":-1e19})", R"({"integer":18446744073709551615})", R"({"integer":true})",
        R"({"integer":"5"})", R"({"integer":null})", R"({"integer":[5]})", R"({"integer":{}})"})
    EXPECT_FALSE(scalars(bad).integer) << bad;
}

TEST(BindTest, RealsBooleansAndTextKeepToTheirTypes) {
  EXPECT_EQ(scalars(R"({"real":5})").real, 5.0);
  EXPECT_EQ(scalars(R"({"real":-2.25})").real, -2.25);
  EXPECT_EQ(scalars(R"({"real":18446744073709551615})").real, 18446744073709551615.0);
  EXPECT_FALSE(scalars(R"({"real":true})").real);
  EXPECT_FALSE(scalars(R"({"real":"1.5"})").real);

  EXPECT_EQ(scalars(R"({"flag":true})").flag, true);
  EXPECT_EQ(scalars(R"({"flag":false})").flag, false);
  EXPECT_EQ(scalars(R"({"flag":1})").flag, true);
  EXPECT_EQ(scalars(R"({"flag":0})").flag, false);
  for (const char* bad : {R"({"flag":2})", R"({"flag":-1})", R"({"flag":1.0})", R"({"flag":"true"})"})
    EXPECT_FALSE(scalars(bad).flag) << bad;

  EXPECT_EQ(scalars(R"({"text":"caf\u00e9 \"x\""})").text, "caf\u00e9 \"x\"");
  EXPECT_EQ(scalars(R"({"text":""})").text, "");
  EXPECT_FALSE(scalars(R"({"text":12})").text);
  EXPECT_FALSE(scalars(R"({"text":false})").text);
}

TEST(BindTest, IntegerArraysAndEnumerations) {
  EXPECT_EQ(scalars(R"({"ids":[3,-1,2.0]})").ids, (std::vector<std::int64_t>{3, -1, 2}));
  EXPECT_EQ(scalars(R"({"ids":[]})").ids, std::vector<std::int64_t>{});
  EXPECT_FALSE(scalars(R"({"ids":[1,"2"]})").ids);
  EXPECT_FALSE(scalars(R"({"ids":[1,2.5]})").ids);
  EXPECT_FALSE(scalars(R"({"ids":7})").ids);

  EXPECT_EQ(scalars(R"({"shade":"dark"})").shade, Shade::Dark);
  EXPECT_EQ(scalars(R"({"shade":"light"})").shade, Shade::Light);
  for (const char* bad : {R"({"shade":"Dark"})", R"({"shade":"dark "})", R"({"shade":""})", R"({"shade":0})"})
    EXPECT_FALSE(scalars(bad).shade) << bad;
  EXPECT_EQ(rawValue(Shade::Light), "light");
  EXPECT_EQ(enumFromRawValue<Shade>("dark"), Shade::Dark);
}

TEST(BindTest, OneBadKeyLeavesTheOthersAlone) {
  const Scalars s =
      scalars(R"({"shade":"light","flag":"yes","integer":7,"text":null,"extra":[1],"real":0.5})");
  EXPECT_EQ(s.integer, 7);
  EXPECT_EQ(s.real, 0.5);
  EXPECT_EQ(s.shade, Shade::Light);
  EXPECT_FALSE(s.flag);
  EXPECT_FALSE(s.text);
  EXPECT_FALSE(s.ids);
}

TEST(BindTest, NestedRecordsAndRecordArrays) {
  Tree tree = Mapper<Tree>()
                  .map(R"({"name":"t","leaves":[{"id":1},7,null,{"id":"x"},[],{"id":3}],"leaf":{"id":9}})")
                  .value();
  ASSERT_TRUE(tree.leaf);
  EXPECT_EQ(tree.leaf->id, 9);
  ASSERT_TRUE(tree.leaves);
  ASSERT_EQ(tree.leaves->size(), 3u);
  EXPECT_EQ((*tree.leaves)[0].id, 1);
  EXPECT_FALSE((*tree.leaves)[1].id);
  EXPECT_EQ((*tree.leaves)[2].id, 3);
  EXPECT_EQ(tree.name, "t");

  tree = Mapper<Tree>().map(R"({"leaves":[],"leaf":[]})").value();
  EXPECT_FALSE(tree.leaf);
  ASSERT_TRUE(tree.leaves);
  EXPECT_TRUE(tree.leaves->empty());

  for (const char* absent :
       {R"({})", R"({"leaves":null,"leaf":null})", R"({"leaves":{"id":1},"leaf":"x"})"}) {
    tree = Mapper<Tree>().map(absent).value();
    EXPECT_FALSE(tree.leaf) << absent;
    EXPECT_FALSE(tree.leaves) << absent;
  }
}

TEST(BindTest, WritingLeavesAbsentFieldsOutAndKeepsFieldOrder) {
  EXPECT_EQ(Mapper<Scalars>().toJSONString(Scalars{}), "{}");

  Scalars s;
  s.shade = Shade::Dark;
  s.flag = false;
  s.text = "a\"b";
  s.ids = std::vector<std::int64_t>{};
  EXPECT_EQ(Mapper<Scalars>().toJSONString(s), R"({"text":"a\"b","flag":false,"ids":[],"shade":"dark"})");

  s.real = std::numeric_limits<double>::quiet_NaN();
  s.integer = -4;
  EXPECT_EQ(Mapper<Scalars>().toJSONString(s),
            R"({"text":"a\"b","integer":-4,"flag":false,"ids":[],"shade":"dark"})");
  s.real = -std::numeric_limits<double>::infinity();
  EXPECT_EQ(parsed(Mapper<Scalars>().toJSONString(s)).count("real"), 0u);
  s.real = 2.5;
  EXPECT_EQ(parsed(Mapper<Scalars>().toJSONString(s))["real"], 2.5);

  Tree tree;
  tree.leaves = std::vector<Leaf>{Leaf{1}, Leaf{}};
  tree.leaf = Leaf{};
  EXPECT_EQ(Mapper<Tree>().toJSONString(tree), R"({"leaf":{},"leaves":[{"id":1},{}]})");
}

TEST(BindTest, WritingNeverGivesInvalidJSON) {
  Scalars s;
  s.text = std::string("ok\xff\xc3") + '\0' + "\n";
  const std::string text = Mapper<Scalars>().toJSONString(s);
  const JsonValue object = parsed(text);
  ASSERT_TRUE(object.is_object()) << text;
  EXPECT_EQ(object["text"], "ok\xEF\xBF\xBD\xEF\xBF\xBD" + std::string(1, '\0') + "\n");
}

}  // namespace
