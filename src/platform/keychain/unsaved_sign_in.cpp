#include "platform/keychain/unsaved_sign_in.h"

#include <cstdio>
#include <mutex>
#include <set>
#include <tuple>

KeychainFailure reportUnsavedSignIn(UnsavedSignIn ending) {
  static std::mutex toldMutex;
  static std::set<std::tuple<std::string, std::string, UnsavedSignIn>> told;
  KeychainFailure failure = KeychainStore::lastFailure().value_or(KeychainFailure{"the keychain", "it refused it"});
  std::lock_guard lock(toldMutex);
  if (told.emplace(failure.place, failure.reason, ending).second) {
    std::fprintf(stderr, "dorvale: cannot save the sign-in in %s (%s): %s\n", failure.place.c_str(),
                 failure.reason.c_str(),
                 ending == UnsavedSignIn::NotKept ? "it was not kept" : "it lasts until the program ends");
  }
  return failure;
}
