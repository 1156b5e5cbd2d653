#pragma once

// What the transfer's source files share; not part of its interface.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/net/curl_engine.h"
#include "platform/net/transfer.h"

namespace net_detail {

using SteadyClock = std::chrono::steady_clock;

inline CurlEngine& engine() { return CurlEngine::shared(); }

bool isHTTPScheme(const URL& url);
// "host:port", the scope of a credential and of a trust decision.
std::string hostKey(const URL& url);
// The strongest scheme curl can answer in a WWW-Authenticate value, with its realm.
std::optional<std::pair<std::string, std::optional<std::string>>> parseAuthenticate(std::string_view value);

template <class F>
auto Transfer::delegateCall(F&& f) const {
  return [session = session_, f = std::forward<F>(f)]() mutable {
    if (auto delegate = session->delegateOnQueue()) f(*delegate, session);
  };
}

template <class F>
void Transfer::deliver(F&& f) {
  if (!session_) return;
  releaseHeldResponse();
  CurlEngine::deliver(session_->delegateQueue(), delegateCall(std::forward<F>(f)));
}

template <class F>
void Transfer::deliverAlways(F&& f) {
  if (!session_) return;
  releaseHeldResponse();
  CurlEngine::deliver(session_->delegateQueue(), std::forward<F>(f));
}

}  // namespace net_detail
