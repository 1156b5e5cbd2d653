#include "toolkit/oauth2_keychain.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/keychain/memory_keychain_store.h"
#include "toolkit/oauth2_keychain_auth.h"

using Auth = ZSDK_ZTKOAuth2Authentication;
using KeychainAuth = ZSDK_ZTKOAuth2KeychainAuth;

namespace {

// Items in memory; saving fails while `refuseSaves` is set, as a full disk would.
class FailingStore : public KeychainStore {
 public:
  bool refuseSaves = false;

 protected:
  std::optional<KeychainItem> load(const std::string& service, const std::string& account) override {
    auto found = items_.find({service, account});
    if (found == items_.end()) return std::nullopt;
    return found->second;
  }
  OSStatus save(const KeychainItem& item) override {
    if (refuseSaves) return errSecIO;
    items_[{item.service, item.account}] = item;
    return errSecSuccess;
  }
  OSStatus erase(const std::string& service, const std::string& account) override {
    items_.erase({service, account});
    return errSecSuccess;
  }

 private:
  std::map<std::pair<std::string, std::string>, KeychainItem> items_;
};

class KeychainTest : public ::testing::Test {
 protected:
  KeychainTest() { KeychainStore::setCurrent(store); }
  ~KeychainTest() override { KeychainStore::setCurrent(nullptr); }

  long codeOf(const std::optional<NSError>& error) {
    EXPECT_TRUE(!error || error->domain == kZTKOAuthKeychainErrorDomain) << error->domain;
    return error ? error->code : 0;
  }

  std::shared_ptr<FailingStore> store = std::make_shared<FailingStore>();
  std::shared_ptr<ZSDK_ZTKOAuth2Keychain> keychain = ZSDK_ZTKOAuth2Keychain::defaultKeychain();
};

}  // namespace

TEST_F(KeychainTest, TextsRoundTripPerServiceAndAccountWithTheirStatusCodes) {
  std::optional<NSError> error;
  EXPECT_TRUE(keychain->setPassword("one", "svc", std::nullopt, "OAuth", &error));
  EXPECT_TRUE(keychain->setPassword("two", "svc", std::nullopt, "ZedodoPlus", &error));
  EXPECT_EQ(keychain->passwordForService("svc", "OAuth"), "one");
  EXPECT_EQ(keychain->passwordForService("svc", "ZedodoPlus"), "two");
  EXPECT_TRUE(keychain->setPassword("one again", "svc", "AlwaysThisDeviceOnly", "OAuth", &error));
  EXPECT_EQ(keychain->passwordForService("svc", "OAuth"), "one again");

  // Missing service, account or value: -1301; nothing stored: the store's status.
  const struct {
    std::function<bool(std::optional<NSError>*)> call;
    long code;
  } failures[] = {
      {[&](auto* e) { return keychain->passwordForService("", "OAuth", e).has_value(); }, -1301},
      {[&](auto* e) { return keychain->passwordForService("svc", "", e).has_value(); }, -1301},
      {[&](auto* e) { return keychain->setPassword("x", "", std::nullopt, "OAuth", e); }, -1301},
      {[&](auto* e) { return keychain->setPassword("x", "svc", std::nullopt, "", e); }, -1301},
      {[&](auto* e) { return keychain->removePasswordForService("svc", "", e); }, -1301},
      {[&](auto* e) { return keychain->passwordForService("other", "OAuth", e).has_value(); }, errSecItemNotFound},
      {[&](auto* e) { return keychain->removePasswordForService("other", "OAuth", e); }, errSecItemNotFound},
      // The empty text removes the old one and still fails.
      {[&](auto* e) { return keychain->setPassword("", "svc", std::nullopt, "ZedodoPlus", e); }, -1301},
  };
  for (std::size_t i = 0; i < std::size(failures); ++i) {
    error.reset();
    EXPECT_FALSE(failures[i].call(&error)) << i;
    EXPECT_EQ(codeOf(error), failures[i].code) << i;
  }
  EXPECT_FALSE(keychain->passwordForService("svc", "ZedodoPlus"));

  // Items without the toolkit's generic attribute are not its own.
  KeychainItem foreign;
  foreign.service = "foreign";
  foreign.account = "OAuth";
  foreign.data = Data::fromString("theirs");
  ASSERT_EQ(SecItemAdd(foreign), errSecSuccess);
  EXPECT_FALSE(keychain->passwordForService("foreign", "OAuth"));
  EXPECT_FALSE(keychain->removePasswordForService("foreign", "OAuth"));
  EXPECT_EQ(keychain->keyForService("svc", "OAuth"), "com.zedodo.ZTKOAuth.svcOAuth");
}

TEST_F(KeychainTest, AFailedWriteKeepsTheOldValue) {
  ASSERT_TRUE(keychain->setPassword("old", "svc", std::nullopt, "OAuth"));
  store->refuseSaves = true;
  std::optional<NSError> error;
  EXPECT_FALSE(keychain->setPassword("new", "svc", std::nullopt, "OAuth", &error));
  EXPECT_EQ(codeOf(error), errSecIO);
  EXPECT_EQ(keychain->passwordForService("svc", "OAuth"), "old");
}

TEST_F(KeychainTest, AuthorizationsSurviveSaveAndLoadAsTheirPersistenceString) {
  auto auth = Auth::authenticationWithServiceProvider("Zedodo", std::nullopt, std::nullopt, "client", std::nullopt);
  auth->setKeysForResponseDictionary(Value::Dictionary{{"access_token", "at"},
                                                       {"refresh_token", "rt"},
                                                       {"expires_in", 3600},
                                                       {"scope", "openid email"},
                                                       {"id_token", "a.b.c"}});
  auth->setUserID("42");
  auth->setUserEmail("ann@example.org");
  auth->setUserEmailIsVerified("1");
  ASSERT_TRUE(KeychainAuth::saveParamsToKeychainForName("item", auth));
  EXPECT_EQ(keychain->passwordForService("item", "OAuth"),
            "email=ann%40example.org&isVerified=1&refresh_token=rt&scope=openid%20email&serviceProvider=Zedodo&"
            "userID=42");

  auto loaded = KeychainAuth::authForZedodoFromKeychainForName("item", "client", std::nullopt);
  EXPECT_EQ(std::tuple(loaded->refreshToken(), loaded->accessToken(), loaded->userID(), loaded->userEmail(),
                       loaded->userEmailIsVerified(), loaded->scope(), loaded->serviceProvider()),
            std::tuple("rt", std::nullopt, "42", "ann@example.org", "1", "openid email", "Zedodo"));
  // No expiry is kept, so the first use refreshes.
  EXPECT_TRUE(loaded->canAuthorize() && !loaded->expirationDate() && loaded->shouldRefreshAccessToken());
  EXPECT_EQ(loaded->clientID(), "client");

  // Without a refresh token the access token is what is kept.
  auth->setRefreshToken(std::nullopt);
  ASSERT_TRUE(KeychainAuth::saveParamsToKeychainForName("item", auth));
  EXPECT_EQ(KeychainAuth::authForZedodoFromKeychainForName("item", "client", std::nullopt)->accessToken(), "at");

  // An authorization that cannot authorize removes the saved one and fails with -1003.
  std::optional<NSError> error;
  auth->reset();
  EXPECT_FALSE(KeychainAuth::saveParamsToKeychainForName("item", std::nullopt, auth, &error));
  EXPECT_EQ(std::tuple(error->domain, error->code), std::tuple("com.zedodo.ZTKOAuth2", -1003L));
  auto none = KeychainAuth::authForZedodoFromKeychainForName("item", "client", std::nullopt, &error);
  EXPECT_FALSE(none->canAuthorize());
  EXPECT_EQ(codeOf(error), errSecItemNotFound);

  // An empty item name fails in the wrapper.
  auth->setRefreshToken("rt");
  EXPECT_FALSE(KeychainAuth::saveParamsToKeychainForName("", std::nullopt, auth, &error));
  EXPECT_EQ(codeOf(error), -1301);
}
