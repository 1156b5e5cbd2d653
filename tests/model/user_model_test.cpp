#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "model/user.h"
#include "model_url_fixture.h"
#include "record_test_support.h"

namespace {

constexpr const char* kRequired = R"("firstName":"Ada","lastName":"Byron","id":"u-1","userName":"ada@x.test",)"
                                  R"("hasFacebook":true,"hasZedodo":false,"hasPassword":true)";

std::shared_ptr<User> user(const std::string& fields) {
  auto record = UserProfileResponse::decode("{" + fields + "}");
  EXPECT_TRUE(record);
  return record ? User::init(*record) : nullptr;
}

using UserModelTest = ModelUrlFixture;

TEST_F(UserModelTest, CopiesTheProfileAndCompletesThePicturePath) {
  auto plain = user(kRequired);
  ASSERT_TRUE(plain);
  EXPECT_EQ(std::tuple(plain->firstName(), plain->lastName(), plain->id(), plain->userName(), plain->hasFacebook(),
                       plain->hasZedodo(), plain->hasPassword()),
            std::tuple("Ada", "Byron", "u-1", "ada@x.test", true, false, true));
  EXPECT_FALSE(plain->profilePicturePath() || plain->schools());
  EXPECT_EQ(urlBuilds, 0);

  for (const std::string path : {"pics/me.png", "/me.png", ""})
    EXPECT_EQ(user(std::string(kRequired) + R"(,"profilePicturePath":")" + path + "\"")->profilePicturePath(),
              kBase + path);
  EXPECT_EQ(urlBuilds, 3);
}

TEST_F(UserModelTest, SchoolsKeepAbsentApartFromEmpty) {
  EXPECT_FALSE(user(std::string(kRequired) + R"(,"school":null)")->schools());
  auto empty = user(std::string(kRequired) + R"(,"school":[])");
  ASSERT_TRUE(empty->schools());
  EXPECT_TRUE(empty->schools()->empty());
  auto two = user(std::string(kRequired) + R"(,"school":[{"id":1,"name":"A"},{"id":2}])");
  ASSERT_EQ(two->schools()->size(), 2u);
  EXPECT_EQ((*two->schools())[0].name, "A");
}

TEST_F(UserModelTest, RefusesAProfileWithoutARequiredValue) {
  EXPECT_TRUE((needsEachOf<User, UserProfileResponse>(
      std::string("{") + kRequired + "}",
      {"firstName", "lastName", "id", "userName", "hasFacebook", "hasZedodo", "hasPassword"})));
  EXPECT_FALSE(user(R"("firstName":"A","lastName":"B","id":17,"userName":"u","hasFacebook":true,)"
                    R"("hasZedodo":true,"hasPassword":true)"))
      << "numeric id";
  for (const char* confirmed : {R"(,"isConfirmed":true)", R"(,"isConfirmed":false)", ""})
    EXPECT_TRUE(user(std::string(kRequired) + confirmed)) << confirmed;
}

}  // namespace
