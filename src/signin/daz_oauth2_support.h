#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/ns_error.h"
#include "platform/foundation/value.h"
#include "toolkit/oauth2_authentication.h"
#include "toolkit/session_fetcher_service.h"

class DAZProfileData;

// What the OAuth 2 sign-in flow and the token refresher share.
namespace daz_oauth2 {

// Where the component keeps the authorization (account "OAuth") and its own values (account
// "ZedodoPlus", here the user's basic profile).
inline constexpr const char* kKeychainItemName = "DAZSignIn-auth";
inline constexpr const char* kProfileItemName = "DAZSignIn-profile";
inline constexpr const char* kPlusAccount = "ZedodoPlus";

// A random text of `bytes` random bytes, web-safe Base64 without padding.
std::string randomWebSafeText(std::size_t bytes);
// The PKCE S256 challenge of `verifier`: web-safe Base64 of its SHA-256, without padding.
std::string codeChallengeS256(std::string_view verifier);
// Equality that takes as long for every text of the same length.
bool constantTimeEquals(std::string_view a, std::string_view b);

// A fetcher service for the provider: plain http and loopback addresses are allowed only when the
// configured provider lives on a loopback address.
std::shared_ptr<ZSDK_ZTKSessionFetcherService> providerFetcherService();
bool providerIsLoopback();

// `error` with a localized description: the provider's own text when it sent one.
NSError describedError(NSError error, const std::string& fallback);
// The token endpoint refused the grant itself (expired, revoked or unknown): nothing to retry.
bool grantWasRefused(const NSError& error);
// Removes the stored authorization and profile.
void forgetStoredSignIn();

std::shared_ptr<DAZProfileData> profileFromDictionary(const Value::Dictionary& profile);
std::optional<Value::Dictionary> storedProfile();
void storeProfile(const Value::Dictionary& profile);

}  // namespace daz_oauth2
