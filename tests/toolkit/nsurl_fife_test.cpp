#include "toolkit/nsurl_fife.h"

#include <gtest/gtest.h>

#include <limits>
#include <type_traits>

#include "toolkit/daz_sign_in_extension_request.h"

namespace {

URL url(const std::string& text) { return *URL::URLWithString(text); }

std::string text(const std::optional<URL>& u) { return u ? u->absoluteString() : "(none)"; }

const std::string kHost = "https://lh3.images.zedodo.com";

}  // namespace

TEST(FIFETest, ImageServerHostsAreRecognised) {
  const std::pair<std::string, bool> cases[] = {
      {kHost + "/a/photo=s96-c", true},
      {"//lh5.zedodocontent.com/x", true},
      {"http://images.zedodo.co.uk/x", true},
      {"https://img-test2.sandbox.zedodo.com/image/x", true},
      {"https://img-test2.sandbox.zedodo.com/other/x", false},
      {"https://notimages.zedodo.com/x", false},
      {"https://example.com/lh3.images.zedodo.com/x", false},
  };
  for (const auto& [address, expected] : cases) EXPECT_EQ(isFIFEUrl(url(address)), expected) << address;
}

TEST(FIFETest, SizeRequestsInBothLayouts) {
  const struct {
    std::string in;
    std::function<std::optional<URL>(const URL&)> request;
    std::string out;
  } cases[] = {
      {kHost + "/a-/AOh14=s96-c", [](const URL& u) { return FIFEURLRequestingMaxSize(u, 299.2); },
       kHost + "/a-/AOh14=s300"},
      {kHost + "/a-/AOh14", [](const URL& u) { return FIFEURLRequestingMaxSize(u, 300); }, kHost + "/a-/AOh14=s300"},
      {kHost + "/a-/AOh14", [](const URL& u) { return FIFEURLRequestingMaxSize(u, 5000); }, kHost + "/a-/AOh14=s3200"},
      // Values below 1 pass as they come.
      {kHost + "/a-/AOh14", [](const URL& u) { return FIFEURLRequestingMaxSize(u, -3); }, kHost + "/a-/AOh14=s-3"},
      {kHost + "/p",
       [](const URL& u) {
         return FIFEURLRequestingExactDimensions(u, {10.5, 20});
       },
       kHost + "/p=w11-h20-n"},
      {kHost + "/p", [](const URL& u) { return FIFEURLRequestingSmartCropToMaxSize(u, 64); }, kHost + "/p=s64-p"},
      {kHost + "/p",
       [](const URL& u) {
         return FIFEURLRequestingSmartCropToDimensions(u, {1, 2});
       },
       kHost + "/p=w1-h2-p-nu"},
      {kHost + "/p",
       [](const URL& u) {
         return FIFEURLRequestingCenteredCropToDimensions(u, {1, 2});
       },
       kHost + "/p=w1-h2-c-nu"},
      {kHost + "/p=s5", [](const URL& u) { return FIFEURLWithArguments(u, {}); }, kHost + "/p"},
      // Legacy: six components with a file name get the options before it; ending in "/", the
      // last segment is replaced; seven replace the options before the file name; five gain them.
      {kHost + "/-x/A/B/C/photo.jpg", [](const URL& u) { return FIFEURLRequestingMaxSize(u, 300); },
       kHost + "/-x/A/B/C/s300/photo.jpg"},
      {kHost + "/-x/A/B/C/s96-c/", [](const URL& u) { return FIFEURLRequestingMaxSize(u, 300); },
       kHost + "/-x/A/B/C/s300/"},
      {kHost + "/-x/A/B/C/s96-c/photo.jpg", [](const URL& u) { return FIFEURLRequestingMaxSize(u, 300); },
       kHost + "/-x/A/B/C/s300/photo.jpg"},
      {kHost + "/image/-x/A/B/C/s96-c/photo.jpg", [](const URL& u) { return FIFEURLRequestingMaxSize(u, 300); },
       kHost + "/image/-x/A/B/C/s300/photo.jpg"},
      {kHost + "/-x/A/B/C", [](const URL& u) { return FIFEURLRequestingMaxSize(u, 300); }, kHost + "/-x/A/B/C/s300/"},
      // "public" makes the URL legacy, but the rewrite does not count it down: no place for options.
      {kHost + "/public/A/B/C/D/E/photo.jpg", [](const URL& u) { return FIFEURLRequestingMaxSize(u, 300); }, "(none)"},
  };
  for (const auto& c : cases) EXPECT_EQ(text(c.request(url(c.in))), c.out) << c.in;
}

TEST(FIFETest, OptionsAndTheLargestSizeTheyAllow) {
  constexpr double kMax = std::numeric_limits<double>::max();
  const struct {
    std::string in;
    std::optional<std::string> options;
    FIFEImageSize size;
  } cases[] = {
      {kHost + "/p=w200-h100-s150", "w200-h100-s150", {150, 100}},
      {kHost + "/p=s96-c-nu", "s96-c-nu", {96, 96}},
      {kHost + "/p", std::nullopt, {kMax, kMax}},
      {kHost + "/-x/A/B/C/w40-h30/photo.jpg", "w40-h30", {40, 30}},
      {kHost + "/-x/A/B/C/photo.jpg", std::nullopt, {kMax, kMax}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FIFEArgumentsString(url(c.in)), c.options) << c.in;
    EXPECT_EQ(maximumFIFEImageSize(url(c.in)), c.size) << c.in;
  }
}

TEST(SignInExtensionRequestTest, CodesRoundTripAndRefusesOtherTypes) {
  static_assert(!std::is_default_constructible_v<DAZSignInExtensionRequest>);
  auto request =
      std::make_shared<DAZSignInExtensionRequest>(url("https://accounts.zedodo.com/consent?x=1"), "com.dorvale.app");
  auto decoded = DAZSignInExtensionRequest::initWithCoder(request->encodeWithCoder());
  ASSERT_TRUE(decoded);
  EXPECT_EQ(std::tuple(decoded->requestURL().absoluteString(), decoded->bundleID()),
            std::tuple("https://accounts.zedodo.com/consent?x=1", "com.dorvale.app"));
  EXPECT_FALSE(DAZSignInExtensionRequest::initWithCoder({{"requestURL", 7}, {"requestBundleID", "b"}}));
  EXPECT_FALSE(DAZSignInExtensionRequest::initWithCoder({{"requestURL", "https://a.b/"}}));

  const auto item = request->extensionItem();
  ASSERT_EQ(item.attachments.size(), 1u);
  EXPECT_EQ(item.attachments[0].item, request);
  EXPECT_EQ(item.attachments[0].typeIdentifier, "com.zedodo.consent.request");
}
