#pragma once

#include <string>

#include "platform/foundation/ns_error.h"

inline constexpr const char* DAZSignInErrorDomain = "com.zedodo.DAZSignIn";

enum class DAZSignInErrorCode : long {
  Unknown = -1,
  Keychain = -2,
  HasNoAuthInKeychain = -4,
  Canceled = -5,
};

inline NSError dazSignInError(DAZSignInErrorCode code, const std::string& description) {
  return NSError(DAZSignInErrorDomain, static_cast<long>(code), {{NSLocalizedDescriptionKey, description}});
}

// An attempt that a sign-out overtook: it delivers no user.
inline NSError dazSignedOutError() {
  return dazSignInError(DAZSignInErrorCode::Canceled, "The Zedodo sign-in was ended by a sign-out.");
}
