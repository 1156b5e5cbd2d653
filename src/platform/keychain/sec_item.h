#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/data.h"

// Generic-password items of the keychain, with the platform's result codes. The item calls work on
// the process-wide store (KeychainStore::current()).

using OSStatus = std::int32_t;

inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecParam = -50;
inline constexpr OSStatus errSecIO = -36;
inline constexpr OSStatus errSecDuplicateItem = -25299;
inline constexpr OSStatus errSecItemNotFound = -25300;

// Accessibility classes. Linux has no device lock, so they are recorded with the item and not
// enforced.
inline constexpr std::string_view kSecAttrAccessibleWhenUnlocked = "WhenUnlocked";
inline constexpr std::string_view kSecAttrAccessibleAfterFirstUnlock = "AfterFirstUnlock";
inline constexpr std::string_view kSecAttrAccessibleAlways = "Always";
inline constexpr std::string_view kSecAttrAccessibleWhenPasscodeSetThisDeviceOnly = "WhenPasscodeSetThisDeviceOnly";
inline constexpr std::string_view kSecAttrAccessibleWhenUnlockedThisDeviceOnly = "WhenUnlockedThisDeviceOnly";
inline constexpr std::string_view kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly = "AfterFirstUnlockThisDeviceOnly";
inline constexpr std::string_view kSecAttrAccessibleAlwaysThisDeviceOnly = "AlwaysThisDeviceOnly";

// When an item was last written, as its store tells: the file's modification time, or the order of
// writes in memory. Stamps of one store order its writes; equal ones do not say which came first.
struct KeychainStamp {
  std::int64_t seconds = 0;
  std::int64_t nanoseconds = 0;
  auto operator<=>(const KeychainStamp&) const = default;
};

// One generic password. Service and account together identify it.
struct KeychainItem {
  std::string service;
  std::string account;
  Data data;
  std::string accessibility = std::string(kSecAttrAccessibleWhenUnlocked);
  std::optional<std::string> label;
  std::optional<std::string> accessGroup;
  std::optional<std::string> generic;  // free-form attribute; queries may require a value
  // Set by the store on a read; absent when it cannot tell. Writes ignore it.
  std::optional<KeychainStamp> modified;
};

// Finds the item of (service, account); the optional attributes must match too when given.
struct KeychainQuery {
  std::string service;
  std::string account;
  std::optional<std::string> generic;
  std::optional<std::string> accessGroup;

  bool matches(const KeychainItem& item) const;
};

// What an update changes; absent fields stay as they are.
struct KeychainAttributes {
  std::optional<Data> data;
  std::optional<std::string> accessibility;
  std::optional<std::string> label;
  std::optional<std::string> generic;

  bool empty() const { return !data && !accessibility && !label && !generic; }
  void applyTo(KeychainItem& item) const;
};

// errSecDuplicateItem when (service, account) is taken.
OSStatus SecItemAdd(const KeychainItem& item);
// Copies the matching item into `result` when it is not null.
OSStatus SecItemCopyMatching(const KeychainQuery& query, KeychainItem* result);
// errSecParam when `attributes` changes nothing.
OSStatus SecItemUpdate(const KeychainQuery& query, const KeychainAttributes& attributes);
OSStatus SecItemDelete(const KeychainQuery& query);
