#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "backend_fixture.h"
#include "services/achievement_service.h"
#include "services/lecture_service.h"
#include "services/news_service.h"
#include "services/profile_service.h"

namespace {

class ContentServicesTest : public BackendFixture {
 protected:
  void SetUp() override {
    BackendFixture::SetUp();
    signInBasic();
  }
  ProfileService& profiles() { return *locator().profileService(); }
};

TEST_F(ContentServicesTest, NewsAndAchievementsComeInReplyOrderAndMayBeEmpty) {
  reply("Tablet/GetNews", 200,
        R"([{"id":2,"createDate":"2016-03-01 14:05:09","title":"b"},{"id":3},)"
        R"({"id":1,"createDate":"2016-03-01 14:05:09","title":"a","color":"lime_teal"}])");
  std::vector<std::shared_ptr<News>> news;
  answerInto(news, [&](auto keep, auto ko) { locator().newsService()->getNews(keep, ko); });
  ASSERT_EQ(news.size(), 2u);
  EXPECT_EQ(std::tuple(news[0]->title(), news[1]->colors()), std::tuple("b", Color::themeNamed("lime_teal")));
  EXPECT_EQ(lastBody(), nlohmann::json::object());

  reply("Tablet/GetStudentAchievements", 200, "[]");
  std::vector<std::shared_ptr<Achievement>> achievements{nullptr};
  const auto get = [&](auto keep, auto ko) { locator().achievementService()->getStudentAchievements(keep, ko); };
  EXPECT_EQ(answerInto(achievements, get).successes, 1);
  EXPECT_TRUE(achievements.empty());
}

TEST_F(ContentServicesTest, ProfileReloadReplacesTheUserOnlyWithAWholeProfile) {
  reply("Tablet/GetUserProfile", 200, profileJson({{"profilePicturePath", "pics/ada.png"}}), "GET");
  std::shared_ptr<User> answered;
  profiles().getUserProfile(
      [&](const std::shared_ptr<User>& user) {
        answered = user;
        EXPECT_EQ(profiles().user(), user) << "stored before success";
      },
      [](const std::string&) {});
  waitFor([&] { return answered != nullptr; });
  EXPECT_EQ(answered->profilePicturePath(), server.url("BrevantTest/pics/ada.png"));

  // A partial profile or a failure keeps the user.
  for (const auto& [status, body, message] :
       {std::tuple{200, R"({"firstName":"Ada"})", networkMessage()},
        std::tuple{500, R"({"errorMessage":"maintenance"})", std::string("maintenance")}}) {
    reply("Tablet/GetUserProfile", status, body, "GET");
    auto outcome = answer([&](auto ok, auto ko) { profiles().getUserProfile([ok](const auto&) { ok(); }, ko); });
    EXPECT_EQ(outcome.failures, std::vector<std::string>{message});
    EXPECT_EQ(profiles().user(), answered);
  }
}

TEST_F(ContentServicesTest, PictureUploadFailuresTakeTheHandlersMessage) {
  reply("Account/TabletUploadProfilePicture", 200, "");
  const auto upload = [&](auto ok, auto ko) {
    profiles().uploadProfilePicture(Data::fromString("\x89PNG"), "png", ok, ko);
  };
  EXPECT_EQ(answer(upload).successes, 1);
  reply("Account/TabletUploadProfilePicture", 500, R"({"errorMessage":"disk full"})");
  EXPECT_EQ(answer(upload).failures, std::vector<std::string>{"disk full"});
}

}  // namespace
