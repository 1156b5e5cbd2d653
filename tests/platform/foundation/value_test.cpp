#include "platform/foundation/value.h"

#include <gtest/gtest.h>

#include <tuple>

TEST(ValueTest, TypedReadsDoNotConvertBetweenKinds) {
  // An integer reads as a real, nothing else converts.
  EXPECT_EQ(std::tuple(Value(3).asInteger(), Value(3).asReal(), Value(true).asBool()), std::tuple(3, 3.0, true));
  EXPECT_FALSE(Value(3).asBool() || Value(2.5).asInteger() || Value(true).asInteger());
  EXPECT_EQ(Value("x").asString() ? *Value("x").asString() : "", "x");
  EXPECT_TRUE(Value(5).asString() == nullptr && Value().isNull());
  EXPECT_TRUE(Value(1) != Value(1.0) && Value(true) != Value(1));
}

TEST(ValueTest, FindAndDescription) {
  Value v(Value::Dictionary{{"b", Value(Value::Array{Value(1), Value("two"), Value(false)})},
                            {"a", Value(Data::fromString("hi"))},
                            {"d", Value(Date{0})}});
  ASSERT_NE(v.find("b"), nullptr);
  EXPECT_EQ(v.find("b")->asArray()->size(), 3u);
  EXPECT_TRUE(v.find("missing") == nullptr && Value(1).find("a") == nullptr);
  EXPECT_EQ(v.description(), "{a={length = 2, bytes = 0x6869}, b=(1, two, 0), d=2001-01-01 00:00:00 +0000}");
  EXPECT_EQ(Value(0.1).description(), "0.1");
}

TEST(ValueTest, FromJSONKeepsKinds) {
  auto v = Value::fromJSON(R"({"i": 1, "r": 1.0, "big": 18446744073709551615, "s": "x", "n": null, "a": [true]})");
  ASSERT_TRUE(v);
  // "big" has no silent wrap to a negative integer.
  EXPECT_TRUE(v->find("i")->isInteger() && v->find("r")->isReal() && v->find("big")->isReal() &&
              v->find("n")->isNull());
  EXPECT_EQ(*v->find("a"), Value(Value::Array{Value(true)}));
  EXPECT_FALSE(Value::fromJSON("{"));
  EXPECT_FALSE(Value::fromJSON(std::string(100000, '[') + std::string(100000, ']')));
}
