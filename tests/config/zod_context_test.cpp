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

std::string plist(const std::string& entries, const std::string& root = "dict") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\"><" + root + ">" + entries + "</" + root + "></plist>\n";
}

class ZODContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zod_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    analytics_ = ZAI::make(dir_ + "/hits.sqlite");
    context_ = std::make_shared<ZODContext>(analytics_);
    Bundle::setMainResourcePath(dir_);
    DAZSignIn::sharedInstance()->setClientID("earlier-id");
  }
  void TearDown() override {
    Bundle::setMainResourcePath(std::nullopt);
    std::filesystem::remove_all(dir_);
  }

  // Writes the bundle's list; configures this context from it unless `configureNow` is off.
  bool configure(const std::string& text, std::optional<NSError>* error = nullptr, bool configureNow = true) {
    std::ofstream(dir_ + "/ZedodoService-Info.plist", std::ios::binary) << text;
    return configureNow && context_->configureWithError(error);
  }

  std::string dir_;
  std::shared_ptr<ZAI> analytics_;
  std::shared_ptr<ZODContext> context_;
};

TEST_F(ZODContextTest, EnabledServicesGetTheirTrackerAndClientID) {
  configure(plist("<key>CLIENT_ID</key><string>123-abc.apps.zedodo</string>"
                  "<key>TRACKING_ID</key><string>UA-42-1</string><key>API_KEY</key><string>key</string>"
                  "<key>ZEDODO_APP_ID</key><string>1:42:ios</string>"
                  "<key>IS_ANALYTICS_ENABLED</key><true/><key>IS_SIGNIN_ENABLED</key><true/>"
                  "<key>IS_MEASUREMENT_ENABLED</key><true/>"),
            nullptr, false);
  std::optional<NSError> error;
  ASSERT_TRUE(context_->configureWithContentsOfFile(dir_ + "/ZedodoService-Info.plist", &error));
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
  configure(plist("<key>CLIENT_ID</key><string>launch-id</string><key>IS_SIGNIN_ENABLED</key><true/>"), nullptr, false);
  EXPECT_TRUE(ZODContext::sharedInstance()->configureWithError(nullptr));
  EXPECT_EQ(DAZSignIn::sharedInstance()->clientID(), "launch-id");
}

TEST_F(ZODContextTest, DisabledOrIncompleteServicesAreLeftAlone) {
  // The second list's tracking id is not a text, so it makes no tracker.
  for (const char* entries : {"<key>CLIENT_ID</key><string>id</string><key>TRACKING_ID</key><string>UA-1</string>"
                              "<key>IS_ANALYTICS_ENABLED</key><false/><key>IS_SIGNIN_ENABLED</key><false/>",
                              "<key>IS_ANALYTICS_ENABLED</key><true/><key>IS_SIGNIN_ENABLED</key><true/>"
                              "<key>TRACKING_ID</key><integer>7</integer>"}) {
    EXPECT_TRUE(configure(plist(entries))) << entries;
    EXPECT_FALSE(analytics_->defaultTracker()) << entries;
    EXPECT_EQ(DAZSignIn::sharedInstance()->clientID(), "earlier-id");
  }
}

TEST_F(ZODContextTest, MissingOrBrokenListsFailWithAnError) {
  std::optional<NSError> error;
  EXPECT_FALSE(context_->configureWithError(&error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, ZODContextErrorDomain);
  EXPECT_EQ(error->code, ZODContextErrorMissingPropertyList);
  EXPECT_FALSE(context_->configureWithError(nullptr));

  for (const std::string& text :
       {std::string("<plist><dict><key>CLIENT_ID</key>"), std::string("not a list at all"), plist("", "array"),
        std::string()}) {
    error.reset();
    EXPECT_FALSE(configure(text, &error)) << text;
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, ZODContextErrorUnreadablePropertyList);
    EXPECT_FALSE(analytics_->defaultTracker());
    EXPECT_FALSE(context_->configuration());
  }

  EXPECT_TRUE(configure(plist("<key>IS_ANALYTICS_ENABLED</key><true/><key>TRACKING_ID</key><string>UA-7</string>")));
  EXPECT_TRUE(analytics_->defaultTracker());
}

}  // namespace
