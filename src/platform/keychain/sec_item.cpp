#include "platform/keychain/sec_item.h"

#include "platform/keychain/keychain_store.h"

bool KeychainQuery::matches(const KeychainItem& item) const {
  return item.service == service && item.account == account && (!generic || item.generic == generic) &&
         (!accessGroup || item.accessGroup == accessGroup);
}

void KeychainAttributes::applyTo(KeychainItem& item) const {
  if (data) item.data = *data;
  if (accessibility) item.accessibility = *accessibility;
  if (label) item.label = *label;
  if (generic) item.generic = *generic;
}

OSStatus SecItemAdd(const KeychainItem& item) { return KeychainStore::current()->add(item); }

OSStatus SecItemCopyMatching(const KeychainQuery& query, KeychainItem* result) {
  return KeychainStore::current()->copyMatching(query, result);
}

OSStatus SecItemUpdate(const KeychainQuery& query, const KeychainAttributes& attributes) {
  return KeychainStore::current()->update(query, attributes);
}

OSStatus SecItemDelete(const KeychainQuery& query) { return KeychainStore::current()->remove(query); }
