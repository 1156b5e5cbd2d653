// A keychain item file from arbitrary bytes, found through the store's public calls: nothing may
// crash, a file read as an item is that item, and an item read back after an update is the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/keychain/file_keychain_store.h"
#include "support/temp_dir.h"

namespace {

bool sameItem(const KeychainItem& a, const KeychainItem& b) {
  return a.service == b.service && a.account == b.account && a.data == b.data && a.accessibility == b.accessibility &&
         a.label == b.label && a.accessGroup == b.accessGroup && a.generic == b.generic;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TempDir dir("keychain-fuzz");
  FileKeychainStore store(dir.str());
  // The seeds are items of this service and account.
  const KeychainQuery query{"svc", "acct", std::nullopt, std::nullopt};
  std::ofstream(store.pathForItem(query.service, query.account), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  KeychainItem item;
  if (store.copyMatching(query, &item) != errSecSuccess) return 0;
  if (item.service != query.service || item.account != query.account) std::abort();
  KeychainAttributes change;
  change.label = item.label.value_or("") + "+";
  if (store.update(query, change) != errSecSuccess) std::abort();
  change.applyTo(item);
  KeychainItem reread;
  if (store.copyMatching(query, &reread) != errSecSuccess || !sameItem(item, reread)) std::abort();
  return 0;
}
