#pragma once

#include <string>

#include "platform/keychain/keychain_store.h"

// How long a sign-in the keychain would not store lasts: until the program ends, or not past the
// alert that ends it; or not known yet, where what the sign-in stores next decides.
enum class UnsavedSignIn { LastsUntilTheProgramEnds, NotKept, Undecided };

// Tells standard error of a sign-in the keychain would not store, once per run for each place,
// reason and ending: "dorvale: cannot save the sign-in in PLACE (REASON): it lasts until the
// program ends" or "...: it was not kept". An undecided one waits for settleUnsavedSignIns, unless
// a sign-in not kept is told meanwhile: that line says it for both. Answers what it told of: this
// thread's last keychain failure, or the keychain's refusal when its store gave no reason.
KeychainFailure reportUnsavedSignIn(UnsavedSignIn ending = UnsavedSignIn::LastsUntilTheProgramEnds);

// Tells the undecided lines that wait, now that the sign-in's ending is known.
void settleUnsavedSignIns(UnsavedSignIn ending);

// While one lives on this thread, a sign-in told as lasting until the program ends is undecided;
// the last to go settles what still waits as lasting.
class UndecidedSignIn {
 public:
  UndecidedSignIn();
  ~UndecidedSignIn();
  UndecidedSignIn(const UndecidedSignIn&) = delete;
  UndecidedSignIn& operator=(const UndecidedSignIn&) = delete;
};
