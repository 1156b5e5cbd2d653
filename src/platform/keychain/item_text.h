#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/keychain/sec_item.h"

// The text of an item's file: JSON whose texts are hex, since services, accounts and labels are
// arbitrary bytes and JSON carries only UTF-8.
namespace keychain_detail {

inline constexpr char kHexDigits[] = "0123456789abcdef";

std::string toHex(std::string_view bytes);
std::string encodeItem(const KeychainItem& item);
// The item `text` holds; otherwise nothing, and `why` says what is wrong with it. Throws nothing,
// whatever the text.
std::optional<KeychainItem> decodeItem(const std::string& text, std::string& why);

}  // namespace keychain_detail
