#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "analytics/zai.h"
#include "analytics/zai_tracker.h"
#include "config/zod_context.h"
#include "platform/foundation/bundle.h"
#include "signin/daz_sign_in.h"
#include "support/temp_dir.h"

namespace {

std::string plist(const std::string& entries, const std::string& root = "dict") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\"><" +
         root + ">" + entries + "</" + root + "></plist>\n";
}

class ZODContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Bundle::setMainResourcePath(dir_.str());
    DAZSignIn::sharedInstance()->setClientID("earlier-id");
  }
  void TearDown() override { Bundle::setMainResourcePath(std::nullopt); }

  // Writes the bundle's list and configures this context from it.
  bool configure(const std::string& text, std::optional<NSError>* error = nullptr) {
    std::ofstream(listPath_, std::ios::binary) << text;
    return context_->configureWithError(error);
  }

  TempDir dir_{"zod"};
  const std::string listPath_ = dir_.str() + "/ZedodoService-Info.plist";
  std::shared_ptr<ZAI> analytics_ = ZAI::make(dir_.str() + "/hits.sqlite");
  std::shared_ptr<ZODContext> context_ = std::make_shared<ZODContext>(analytics_);
};

TEST_F(ZODContextTest, EnabledServicesGetTheirTrackerAndClientID) {
  std::ofstream(listPath_) << plist(
      "<key>CLIENT_ID</key><string>sample-client</string>"
      "<key>TRACKING_ID</key><string>sample-tracker</string><key>API_KEY</key><string>key</string>"
      "<key>ZEDODO_APP_ID</key><string>sample-app</string>"
      "<key>IS_ANALYTICS_ENABLED</key><true/><key>IS_SIGNIN_ENABLED</key><true/>"
      "<key>IS_MEASUREMENT_ENABLED</key><true/>");
  std::optional<NSError> error;
  ASSERT_TRUE(context_->configureWithContentsOfFile(listPath_, &error));
  ASSERT_TRUE(analytics_->defaultTracker() && context_->configuration());
  const auto config = *context_->configuration();
  EXPECT_EQ(
      std::tuple(error.has_value(), analytics_->defaultTracker()->trackingId(), DAZSignIn::sharedInstance()->clientID(),
                 config.apiKey, config.zedodoAppID, config.isMeasurementEnabled),
      std::tuple(false, "sample-tracker", "sample-client", "key", "sample-app", true));

  // At launch: the shared hub reads the bundle's list and configures the shared sign-in.
  std::ofstream(listPath_) << plist(
      "<key>CLIENT_ID</key><string>launch-id</string><key>IS_SIGNIN_ENABLED</key><true/>");
  EXPECT_TRUE(ZODContext::sharedInstance()->configureWithError(nullptr));
  EXPECT_EQ(DAZSignIn::sharedInstance()->clientID(), "launch-id");
}

TEST_F(ZODContextTest, DisabledOrIncompleteServicesAreLeftAlone) {
  // The second list's tracking id is not a text, so it makes no tracker.
  for (const char* entries : {"<key>CLIENT_ID</key><string>id</string><key>TRACKING_ID</key><string>t-1</string>"
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
  EXPECT_EQ(std::tuple(error->domain, error->code),
            std::tuple(ZODContextErrorDomain, ZODContextErrorMissingPropertyList));
  EXPECT_FALSE(context_->configureWithError(nullptr));

  // The last: a binary list whose client id holds a NUL byte.
  const std::string nulInText(
      "bplist00\xd1\x01\x02YCLIENT_IDb\x00\xe9\x00\x00\x08\x0b\x15\x00\x00\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00"
      "\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x1a",
      61);
  // A binary list whose tracking id is an ASCII text "t", NUL, "x": the parser would read "t".
  const std::string nulInAsciiText(
      "bplist00\xd2\x01\x02\x03\x04_\x10\x14IS_ANALYTICS_ENABLED[TRACKING_ID\x09St\x00x\x08\x0d$01\x00\x00\x00\x00"
      "\x00\x00\x01\x01\x00\x00\x00\x00\x00\x00\x00\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x00\x00\x35",
      90);
  for (const std::string& text :
       {std::string("<plist><dict><key>CLIENT_ID</key>"), std::string("not a list at all"), plist("", "array"),
        std::string(), nulInText, nulInAsciiText,
        plist("<key>IS_SIGNIN_ENABLED</key><true/><key>CLIENT_ID</key><string>a&#0;b</string>")}) {
    error.reset();
    EXPECT_FALSE(configure(text, &error)) << text;
    EXPECT_EQ(error ? error->code : 0, ZODContextErrorUnreadablePropertyList);
    EXPECT_FALSE(analytics_->defaultTracker() || context_->configuration());
    EXPECT_EQ(DAZSignIn::sharedInstance()->clientID(), "earlier-id");
  }

  EXPECT_TRUE(configure(plist("<key>IS_ANALYTICS_ENABLED</key><true/><key>TRACKING_ID</key><string>t-7</string>")));
  EXPECT_TRUE(analytics_->defaultTracker());
}

}  // namespace
