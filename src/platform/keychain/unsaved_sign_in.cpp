#include "platform/keychain/unsaved_sign_in.h"

#include <cstdio>
#include <mutex>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

namespace {

struct Lines {
  std::mutex mutex;
  std::set<std::tuple<std::string, std::string, UnsavedSignIn>> told;
  std::vector<KeychainFailure> waiting;
};

// Kept past the end of main: a thread may still be told of a failure then.
Lines& lines() {
  static auto* lines = new Lines;
  return *lines;
}

thread_local int undecidedScopes = 0;

// Under the mutex.
void tell(const KeychainFailure& failure, UnsavedSignIn ending) {
  if (!lines().told.emplace(failure.place, failure.reason, ending).second) return;
  std::fprintf(stderr, "dorvale: cannot save the sign-in in %s (%s): %s\n", failure.place.c_str(),
               failure.reason.c_str(),
               ending == UnsavedSignIn::NotKept ? "it was not kept" : "it lasts until the program ends");
}

}  // namespace

KeychainFailure reportUnsavedSignIn(UnsavedSignIn ending) {
  KeychainFailure failure = KeychainStore::lastFailure().value_or(KeychainFailure{"the keychain", "it refused it"});
  if (ending == UnsavedSignIn::LastsUntilTheProgramEnds && undecidedScopes > 0) ending = UnsavedSignIn::Undecided;
  std::lock_guard lock(lines().mutex);
  if (ending == UnsavedSignIn::Undecided) {
    lines().waiting.push_back(failure);
    return failure;
  }
  // The sign-in is over: what it could not store earlier lasts no longer either.
  if (ending == UnsavedSignIn::NotKept) lines().waiting.clear();
  tell(failure, ending);
  return failure;
}

void settleUnsavedSignIns(UnsavedSignIn ending) {
  std::lock_guard lock(lines().mutex);
  for (const auto& failure : std::exchange(lines().waiting, {})) tell(failure, ending);
}

UndecidedSignIn::UndecidedSignIn() { ++undecidedScopes; }

UndecidedSignIn::~UndecidedSignIn() {
  if (--undecidedScopes == 0) settleUnsavedSignIns(UnsavedSignIn::LastsUntilTheProgramEnds);
}
