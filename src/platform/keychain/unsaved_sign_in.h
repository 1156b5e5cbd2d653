#pragma once

#include <string>

#include "platform/keychain/keychain_store.h"

// A sign-in the keychain would not store lasts only until the program ends. Tells standard error
// so, once per run for each place and reason: "dorvale: cannot save the sign-in in PLACE
// (REASON): it lasts until the program ends". Answers what it told of: this thread's last keychain
// failure, or the keychain's refusal when its store gave no reason.
KeychainFailure reportUnsavedSignIn();
