#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backend_fixture.h"
#include "model/model_url_builder.h"
#include "services/achievement_service.h"
#include "services/lecture_service.h"
#include "services/news_service.h"
#include "services/profile_service.h"

namespace {

constexpr const char* kProfile =
    R"({"firstName":"Ada","lastName":"Byron","id":"u1","userName":"ada@x.test","hasFacebook":false,)"
    R"("hasZedodo":false,"hasPassword":true,"profilePicturePath":"pics/ada.png"})";

class ContentServicesTest : public BackendFixture {
 protected:
  void SetUp() override {
    BackendFixture::SetUp();
    signInBasic();
  }
  ProfileService& profiles() { return *locator().profileService(); }
};

TEST_F(ContentServicesTest, TheLocatorMakesTheServicesOverItsOneBackendApi) {
  auto& l = locator();
  ASSERT_TRUE(l.lectureService() && l.achievementService() && l.newsService() && l.profileService());
  EXPECT_EQ(l.lectureService()->backendApi(), l.backendApi());
  EXPECT_EQ(l.achievementService()->backendApi(), l.backendApi());
  EXPECT_EQ(l.newsService()->backendApi(), l.backendApi());
  EXPECT_EQ(l.profileService()->backendApi(), l.backendApi());
  EXPECT_EQ(manager()->profileService(), l.profileService());
  EXPECT_EQ(ModelUrlBuilder::buildUrl("x/y.png"), l.backendApi()->buildUrl("x/y.png"));
}

TEST_F(ContentServicesTest, NewsAndAchievementsComeInReplyOrderAndMayBeEmpty) {
  reply("Tablet/GetNews", 200,
        R"([{"id":2,"createDate":"2016-03-01 14:05:09","title":"b"},{"id":3},)"
        R"({"id":1,"createDate":"2016-03-01 14:05:09","title":"a","color":"lime_teal"}])");
  std::optional<std::vector<std::shared_ptr<News>>> news;
  locator().newsService()->getNews([&](const auto& list) { news = list; }, [](const std::string&) {});
  waitFor([&] { return news.has_value(); });
  ASSERT_EQ(news->size(), 2u);
  EXPECT_EQ((*news)[0]->title(), "b");
  EXPECT_EQ((*news)[1]->colors(), Color::themeNamed("lime_teal"));
  EXPECT_EQ(lastBody(), nlohmann::json::object());

  reply("Tablet/GetStudentAchievements", 200, "[]");
  std::optional<std::vector<std::shared_ptr<Achievement>>> achievements;
  std::vector<std::string> failures;
  locator().achievementService()->getStudentAchievements([&](const auto& list) { achievements = list; },
                                                         [&](const std::string& m) { failures.push_back(m); });
  waitFor([&] { return achievements.has_value(); });
  EXPECT_TRUE(achievements->empty());
  EXPECT_TRUE(failures.empty());
}

TEST_F(ContentServicesTest, ProfileReloadReplacesTheUserOnlyWithAWholeProfile) {
  reply("Tablet/GetUserProfile", 200, kProfile, "GET");
  std::shared_ptr<User> answered;
  profiles().getUserProfile(
      [&](const std::shared_ptr<User>& user) {
        answered = user;
        EXPECT_EQ(profiles().user(), user) << "stored before success";
      },
      [](const std::string&) {});
  waitFor([&] { return answered != nullptr; });
  EXPECT_EQ(answered->profilePicturePath(), server.url("BrevantTest/pics/ada.png"));

  Outcome outcome;
  reply("Tablet/GetUserProfile", 200, R"({"firstName":"Ada"})", "GET");
  profiles().getUserProfile([&](const auto&) { ++outcome.successes; }, fail(outcome));
  waitForAnswer(outcome);
  EXPECT_EQ(outcome.failures, std::vector<std::string>{networkMessage()});
  EXPECT_EQ(profiles().user(), answered);

  reply("Tablet/GetUserProfile", 500, R"({"errorMessage":"maintenance"})", "GET");
  outcome = {};
  profiles().getUserProfile([&](const auto&) { ++outcome.successes; }, fail(outcome));
  waitForAnswer(outcome);
  EXPECT_EQ(outcome.failures, std::vector<std::string>{"maintenance"});
  EXPECT_EQ(profiles().user(), answered);
}

TEST_F(ContentServicesTest, PictureUploadRejectedWith401SignsOut) {
  reply("Account/TabletUploadProfilePicture", 200, "");
  Outcome uploaded;
  profiles().uploadProfilePicture(Data::fromString("\x89PNG"), "png", succeed(uploaded), fail(uploaded));
  waitForAnswer(uploaded);
  EXPECT_EQ(uploaded.successes, 1);

  reply("Account/TabletUploadProfilePicture", 401, R"({"errorMessage":"expired"})");
  Outcome rejected;
  profiles().uploadProfilePicture(Data::fromString("\x89PNG"), "png", succeed(rejected), fail(rejected));
  waitForAnswer(rejected);
  EXPECT_EQ(rejected.failures, std::vector<std::string>{unauthorizedMessage()});
  EXPECT_EQ(sessionDelegate->calls, std::vector<std::string>{"userDidLogout"});
  EXPECT_FALSE(manager()->accessToken());
}

}  // namespace
