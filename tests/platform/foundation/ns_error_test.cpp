#include "platform/foundation/ns_error.h"

#include <gtest/gtest.h>

TEST(NSErrorTest, LocalizedDescriptionPrefersUserInfoText) {
  NSError plain("com.dorvale.test", -3);
  EXPECT_EQ(plain.localizedDescription(), "The operation couldn\u2019t be completed. (com.dorvale.test error -3.)");
  EXPECT_EQ(plain.description(),
            "Error Domain=com.dorvale.test Code=-3 \"The operation couldn\u2019t be completed. (com.dorvale.test "
            "error -3.)\"");

  // A description that is not text falls back to the generic sentence.
  NSError wrongKind("d", 1, {{NSLocalizedDescriptionKey, Value(5)}});
  EXPECT_EQ(wrongKind.localizedDescription(), "The operation couldn\u2019t be completed. (d error 1.)");

  NSError described("d", 7,
                    {{"zeta", Value(1)}, {NSLocalizedDescriptionKey, Value("Bad thing")}, {"alpha", Value("x")}});
  EXPECT_EQ(described.localizedDescription(), "Bad thing");
  EXPECT_EQ(described.description(),
            "Error Domain=d Code=7 \"Bad thing\" UserInfo={NSLocalizedDescription=Bad thing, alpha=x, zeta=1}");
}

TEST(NSErrorTest, UnderlyingErrorAndEquality) {
  NSError inner("inner", 2);
  NSError outer("outer", 1, {{NSUnderlyingErrorKey, Value(inner)}});
  ASSERT_NE(outer.underlyingError(), nullptr);
  EXPECT_TRUE(*outer.underlyingError() == inner && NSError("x", 1).underlyingError() == nullptr);
  EXPECT_NE(outer.description().find("NSUnderlyingError=Error Domain=inner Code=2"), std::string::npos);

  // Errors held in values compare by content, not by pointer.
  EXPECT_EQ(NSError("outer", 1, {{NSUnderlyingErrorKey, Value(NSError("inner", 2))}}), outer);
  EXPECT_NE(NSError("outer", 1, {{NSUnderlyingErrorKey, Value(NSError("inner", 3))}}), outer);
}
