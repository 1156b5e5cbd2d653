#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/ns_error.h"
#include "platform/keychain/sec_item.h"

inline constexpr const char* kZTKOAuthKeychainErrorDomain = "com.zedodo.ZTKOAuthKeychain";
// A service, account or value was missing.
inline constexpr long kZTKOAuthKeychainErrorNoPassword = -1301;
// The generic attribute every item of the toolkit carries; items without it are never touched.
inline constexpr const char* kZTKOAuthKeychainGeneric = "OAuth";

// One UTF-8 text per (service, account), stored as a generic password of the keychain.
class ZSDK_ZTKOAuth2Keychain {
 public:
  // The shared instance, made on first use; replaced by setDefaultKeychain (nullptr: a new one).
  static std::shared_ptr<ZSDK_ZTKOAuth2Keychain> defaultKeychain();
  static void setDefaultKeychain(std::shared_ptr<ZSDK_ZTKOAuth2Keychain> keychain);

  static KeychainQuery keychainQueryForService(const std::string& service, const std::string& account);

  virtual ~ZSDK_ZTKOAuth2Keychain() = default;

  // Errors carry the keychain status as code (or -1301), no user info.
  std::optional<std::string> passwordForService(const std::string& service, const std::string& account,
                                                std::optional<NSError>* error = nullptr) const;
  // Replaces the stored text in one step, so a failed write leaves the old one. The empty text
  // removes the old one and fails with -1301.
  bool setPassword(const std::string& password, const std::string& service,
                   const std::optional<std::string>& accessibility, const std::string& account,
                   std::optional<NSError>* error = nullptr) const;
  bool removePasswordForService(const std::string& service, const std::string& account,
                                std::optional<NSError>* error = nullptr) const;
  // "com.zedodo.ZTKOAuth.<service><account>"; nothing uses it.
  std::string keyForService(const std::string& service, const std::string& account) const;
};
