#include "signin/daz_oauth2_support.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <nlohmann/json.hpp>

#include "platform/foundation/data.h"
#include "signin/daz_profile_data.h"
#include "toolkit/oauth2_constants.h"
#include "toolkit/oauth2_keychain.h"
#include "toolkit/oauth2_keychain_auth.h"
#include "toolkit/oauth2_sign_in.h"
#include "toolkit/session_fetcher_constants.h"

namespace daz_oauth2 {

namespace {

std::string webSafeBase64(const unsigned char* bytes, std::size_t length) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  for (std::size_t i = 0; i < length; i += 3) {
    const std::uint32_t group = (std::uint32_t(bytes[i]) << 16) | (i + 1 < length ? bytes[i + 1] << 8 : 0) |
                                (i + 2 < length ? bytes[i + 2] : 0);
    const std::size_t chars = std::min<std::size_t>(4, (length - i) * 4 / 3 + ((length - i) % 3 ? 1 : 0));
    for (std::size_t k = 0; k < chars; ++k) out += kAlphabet[(group >> (18 - 6 * k)) & 0x3F];
  }
  return out;
}

bool isLoopbackOrigin(const std::string& origin) {
  const auto url = URL::URLWithString(origin);
  const auto host = url ? url->host() : std::nullopt;
  return host && (*host == "127.0.0.1" || *host == "localhost" || *host == "::1");
}

std::optional<std::string> text(const Value::Dictionary& dict, const char* key) {
  const auto found = dict.find(key);
  if (found == dict.end() || !found->second.asString() || found->second.asString()->empty()) return std::nullopt;
  return *found->second.asString();
}

}  // namespace

std::string randomWebSafeText(std::size_t bytes) {
  std::vector<unsigned char> random(bytes);
  if (RAND_bytes(random.data(), static_cast<int>(random.size())) != 1) std::abort();
  return webSafeBase64(random.data(), random.size());
}

std::string codeChallengeS256(std::string_view verifier) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(verifier.data(), verifier.size(), digest, &length, EVP_sha256(), nullptr);
  return webSafeBase64(digest, length);
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

bool providerIsLoopback() {
  const auto hosts = ZSDK_ZTKOAuth2SignIn::providerHosts();
  return isLoopbackOrigin(hosts.accountsOrigin) && isLoopbackOrigin(hosts.apiOrigin);
}

std::shared_ptr<ZSDK_ZTKSessionFetcherService> providerFetcherService() {
  auto service = ZSDK_ZTKSessionFetcherService::create();
  if (providerIsLoopback()) {
    service->allowLocalhostRequest = true;
    service->allowedInsecureSchemes = {"http"};
  }
  return service;
}

NSError describedError(NSError error, const std::string& fallback) {
  if (error.userInfo.count(NSLocalizedDescriptionKey)) return error;
  std::optional<std::string> said;
  if (const auto json = error.userInfo.find(kZTKOAuth2ErrorJSONKey); json != error.userInfo.end()) {
    if (const auto* body = json->second.asDictionary())
      said = text(*body, "error_description").value_or(text(*body, "error").value_or(""));
  }
  if (!said || said->empty()) said = text(error.userInfo, kZTKOAuth2ErrorMessageKey);
  error.userInfo[NSLocalizedDescriptionKey] = said && !said->empty() ? fallback + ": " + *said : fallback + ".";
  return error;
}

bool grantWasRefused(const NSError& error) {
  return error.domain == kZTKSessionFetcherStatusDomain && (error.code == 400 || error.code == 401);
}

void forgetStoredSignIn() {
  ZSDK_ZTKOAuth2KeychainAuth::removeAuthFromKeychainForName(kKeychainItemName);
  ZSDK_ZTKOAuth2Keychain::defaultKeychain()->removePasswordForService(kProfileItemName, kPlusAccount);
}

std::shared_ptr<DAZProfileData> profileFromDictionary(const Value::Dictionary& profile) {
  std::optional<URL> picture;
  if (auto address = text(profile, "picture")) picture = URL::URLWithString(*address);
  return std::make_shared<DAZProfileData>(text(profile, "email"), text(profile, "name"), text(profile, "given_name"),
                                          text(profile, "family_name"), std::move(picture));
}

std::optional<Value::Dictionary> storedProfile() {
  const auto stored = ZSDK_ZTKOAuth2Keychain::defaultKeychain()->passwordForService(kProfileItemName, kPlusAccount);
  if (!stored) return std::nullopt;
  const auto parsed = ZSDK_ZTKOAuth2Authentication::dictionaryWithJSONData(Data::fromString(*stored));
  if (!parsed || !parsed->asDictionary()) return std::nullopt;
  return *parsed->asDictionary();
}

void storeProfile(const Value::Dictionary& profile) {
  // Only the texts the profile object reads.
  nlohmann::json json = nlohmann::json::object();
  for (const char* key : {"email", "family_name", "given_name", "name", "picture"}) {
    if (auto value = text(profile, key)) json[key] = *value;
  }
  ZSDK_ZTKOAuth2Keychain::defaultKeychain()->setPassword(
      json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), kProfileItemName, std::nullopt,
      kPlusAccount);
}

}  // namespace daz_oauth2
