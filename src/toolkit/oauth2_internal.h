#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/net/url_request.h"

class ZSDK_ZTKOAuth2Authentication;
class ZSDK_ZTKSessionFetcher;

// Helpers shared by the authorization and the sign-in flow.
namespace ztk_fetcher_detail {

inline bool nonEmpty(const std::optional<std::string>& text) { return text && !text->empty(); }

// The e-mail part of a fetch comment: `for "<email>"`, or nothing.
std::string forEmail(const std::optional<std::string>& email);

// A fetcher of the authorization's service, else a plain one.
std::shared_ptr<ZSDK_ZTKSessionFetcher> fetcherForAuthorization(ZSDK_ZTKOAuth2Authentication& auth,
                                                                const URLRequest& request);

}  // namespace ztk_fetcher_detail
