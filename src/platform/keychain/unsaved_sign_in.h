#pragma once

#include <string>

#include "platform/keychain/keychain_store.h"

// How long a sign-in the keychain would not store lasts: until the program ends, or not past the
// alert that ends it.
enum class UnsavedSignIn { LastsUntilTheProgramEnds, NotKept };

// Tells standard error of a sign-in the keychain would not store, once per run for each place,
// reason and ending: "dorvale: cannot save the sign-in in PLACE (REASON): it lasts until the
// program ends" or "...: it was not kept". Answers what it told of: this thread's last keychain
// failure, or the keychain's refusal when its store gave no reason.
KeychainFailure reportUnsavedSignIn(UnsavedSignIn ending = UnsavedSignIn::LastsUntilTheProgramEnds);
