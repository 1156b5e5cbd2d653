#include "platform/foundation/localized_format.h"

#include <gtest/gtest.h>

TEST(LocalizedFormatTest, FillsObjectPlaceholdersInOrderOrByPosition) {
  struct Case {
    const char* format;
    std::vector<std::string> args;
    const char* expected;
  };
  const Case cases[] = {
      {"Score: %@%%\nQuestions: %@\nMissed: %@", {"80", "10", "2"}, "Score: 80%\nQuestions: 10\nMissed: 2"},
      {"%2$@ before %1$@", {"a", "b"}, "b before a"},
      {"%@ and %@", {"only"}, "only and %@"},  // a missing argument stays visible
      {"%3$@ %d %", {"a"}, "%3$@ %d %"},       // unknown sequences stay as written
      {"%99999999999999999999$@", {"a"}, "%99999999999999999999$@"},
  };
  for (const auto& c : cases) EXPECT_EQ(localizedStringWithFormat(c.format, c.args), c.expected) << c.format;
}
