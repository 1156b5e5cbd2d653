#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "analytics/zai.h"
#include "analytics/zai_tracker.h"
#include "config/zod_context.h"
#include "platform/foundation/bundle.h"
#include "signin/daz_sign_in.h"

namespace {

std::string plist(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\"><dict>" +
         entries + "</dict></plist>\n";
}

class ZODContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zod_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    analytics_ = ZAI::make(dir_ + "/hits.sqlite");
    context_ = std::make_shared<ZODContext>(analytics_);
    DAZSignIn::sharedInstance()->setClientID("earlier-id");
  }
  void TearDown() override {
    Bundle::setMainResourcePath(std::nullopt);
    std::filesystem::remove_all(dir_);
  }

  std::string write(const std::string& name, const std::string& text) {
    auto path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  std::string dir_;
  std::shared_ptr<ZAI> analytics_;
  std::shared_ptr<ZODContext> context_;
};

TEST_F(ZODContextTest, EnabledServicesGetTheirTrackerAndClientID) {
  auto path = write("ZedodoService-Info.plist",
                    plist("<key>CLIENT_ID</key><string>123-abc.apps.zedodo</string>"
                          "<key>TRACKING_ID</key><string>UA-42-1</string>"
                          "<key>API_KEY</key><string>key</string>"
                          "<key>ZEDODO_APP_ID</key><string>1:42:ios</string>"
                          "<key>IS_ANALYTICS_ENABLED</key><true/>"
                          "<key>IS_SIGNIN_ENABLED</key><true/>"
                          "<key>IS_MEASUREMENT_ENABLED</key><true/>"));
  std::optional<NSError> error;
  ASSERT_TRUE(context_->configureWithContentsOfFile(path, &error));
  EXPECT_FALSE(error);
  ASSERT_TRUE(analytics_->defaultTracker());
  EXPECT_EQ(analytics_->defaultTracker()->trackingId(), "UA-42-1");
  EXPECT_EQ(DAZSignIn::sharedInstance()->clientID(), "123-abc.apps.zedodo");
  auto config = context_->configuration();
  ASSERT_TRUE(config);
  EXPECT_EQ(config->apiKey, "key");
  EXPECT_EQ(config->zedodoAppID, "1:42:ios");
  EXPECT_TRUE(config->isMeasurementEnabled);

  // At launch: the shared hub reads the bundle's list and configures the shared sign-in.
  Bundle::setMainResourcePath(dir_);
  write("ZedodoService-Info.plist", plist("<key>CLIENT_ID</key><string>launch-id</string>"
                                          "<key>IS_SIGNIN_ENABLED</key><true/>"));
  EXPECT_TRUE(ZODContext::sharedInstance()->configureWithError(nullptr));
  EXPECT_EQ(DAZSignIn::sharedInstance()->clientID(), "launch-id");
}

TEST_F(ZODContextTest, DisabledOrIncompleteServicesAreLeftAlone) {
  auto path = write("a.plist", plist("<key>CLIENT_ID</key><string>id</string>"
                                     "<key>TRACKING_ID</key><string>UA-1</string>"
                                     "<key>IS_ANALYTICS_ENABLED</key><false/>"
                                     "<key>IS_SIGNIN_ENABLED</key><false/>"));
  EXPECT_TRUE(context_->configureWithContentsOfFile(path, nullptr));
  EXPECT_FALSE(analytics_->defaultTracker());
  EXPECT_EQ(DAZSignIn::sharedInstance()->clientID(), "earlier-id");

  path = write("b.plist", plist("<key>IS_ANALYTICS_ENABLED</key><true/><key>IS_SIGNIN_ENABLED</key><true/>"
                                "<key>TRACKING_ID</key><integer>7</integer>"));
  EXPECT_TRUE(context_->configureWithContentsOfFile(path, nullptr));
  EXPECT_FALSE(analytics_->defaultTracker()) << "a tracking id that is not a text makes no tracker";
  EXPECT_EQ(DAZSignIn::sharedInstance()->clientID(), "earlier-id");
}

TEST_F(ZODContextTest, MissingOrBrokenListsFailWithAnError) {
  Bundle::setMainResourcePath(dir_);
  std::optional<NSError> error;
  EXPECT_FALSE(context_->configureWithError(&error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, ZODContextErrorDomain);
  EXPECT_EQ(error->code, ZODContextErrorMissingPropertyList);
  EXPECT_FALSE(context_->configureWithError(nullptr));

  for (const std::string& text : {std::string("<plist><dict><key>CLIENT_ID</key>"), std::string("not a list at all"),
                                  plist("").replace(plist("").find("<dict></dict>"), 13, "<array/>"), std::string()}) {
    write("ZedodoService-Info.plist", text);
    error.reset();
    EXPECT_FALSE(context_->configureWithError(&error)) << text;
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, ZODContextErrorUnreadablePropertyList);
    EXPECT_FALSE(analytics_->defaultTracker());
    EXPECT_FALSE(context_->configuration());
  }

  write("ZedodoService-Info.plist", plist("<key>IS_ANALYTICS_ENABLED</key><true/><key>TRACKING_ID</key><string>UA-7</string>"));
  EXPECT_TRUE(context_->configureWithError(&error));
  ASSERT_TRUE(analytics_->defaultTracker());
}

}  // namespace
