#include <gtest/gtest.h>

#include <string>

#include "model/user.h"
#include "model_url_fixture.h"
#include "record_test_support.h"

namespace {

constexpr const char* kRequired =
    R"("firstName":"Ada","lastName":"Byron","id":"u-1","userName":"ada@x.test",)"
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
  EXPECT_EQ(plain->firstName(), "Ada");
  EXPECT_EQ(plain->lastName(), "Byron");
  EXPECT_EQ(plain->id(), "u-1");
  EXPECT_EQ(plain->userName(), "ada@x.test");
  EXPECT_TRUE(plain->hasFacebook());
  EXPECT_FALSE(plain->hasZedodo());
  EXPECT_TRUE(plain->hasPassword());
  EXPECT_FALSE(plain->profilePicturePath());
  EXPECT_FALSE(plain->schools());
  EXPECT_EQ(urlBuilds, 0);

  EXPECT_EQ(user(std::string(kRequired) + R"(,"profilePicturePath":"pics/me.png")")->profilePicturePath(),
            std::string(kBase) + "pics/me.png");
  EXPECT_EQ(user(std::string(kRequired) + R"(,"profilePicturePath":"/me.png")")->profilePicturePath(),
            std::string(kBase) + "/me.png");
  EXPECT_EQ(user(std::string(kRequired) + R"(,"profilePicturePath":"")")->profilePicturePath(), kBase);
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
