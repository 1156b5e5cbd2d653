#include "platform/keychain/unsaved_sign_in.h"

#include <cstdio>
#include <mutex>
#include <set>
#include <utility>

KeychainFailure reportUnsavedSignIn() {
  static std::mutex toldMutex;
  static std::set<std::pair<std::string, std::string>> told;
  KeychainFailure failure = KeychainStore::lastFailure().value_or(KeychainFailure{"the keychain", "it refused it"});
  std::lock_guard lock(toldMutex);
  if (told.emplace(failure.place, failure.reason).second) {
    std::fprintf(stderr, "dorvale: cannot save the sign-in in %s (%s): it lasts until the program ends\n",
                 failure.place.c_str(), failure.reason.c_str());
  }
  return failure;
}
