#pragma once

// Helpers shared by the session fetcher's source files; not part of its interface.

#include <atomic>
#include <cctype>
#include <climits>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <string_view>
#include <utility>

#include "platform/foundation/ascii.h"
#include "toolkit/session_fetcher.h"

namespace ztk_fetcher_detail {

struct ClassState {
  std::mutex mutex;
  ZSDK_ZTKSessionFetcher::TestBlock globalTestBlock;
  std::shared_ptr<ZTKSessionFetcherLogging> logging;
  std::function<std::uint32_t()> randomSource;
  // Read without the lock, since every fetch would ask: whether the slots above are set.
  std::atomic<bool> hasRandomSource{false};
  std::atomic<bool> hasGlobalTestBlock{false};
  std::atomic<bool> hasLogging{false};
  std::mt19937 engine{std::random_device{}()};
  // Background-session identifier -> the fetcher running it.
  std::map<std::string, std::weak_ptr<ZSDK_ZTKSessionFetcher>> fetchersBySessionIdentifier;
  // Background-session identifier -> the system's completion for its finished events.
  std::map<std::string, std::function<void()>> systemCompletionHandlers;
  // The defaults of the persisted background sessions, once decided; a test may put others in.
  std::shared_ptr<UserDefaults> userDefaults;
  std::shared_ptr<UserDefaults> injectedUserDefaults;
};

inline ClassState& classState() {
  static auto* state = new ClassState();  // never destroyed: fetchers may outlive static teardown
  return *state;
}

// One engine per thread: the draw every fetcher makes takes no lock.
inline std::uint32_t drawFromThreadEngine() {
  thread_local std::minstd_rand engine{std::random_device{}()};
  return std::uniform_int_distribution<std::uint32_t>(0, 65534)(engine);
}

inline std::uint32_t drawRetryRandom() {
  auto& state = classState();
  if (!state.hasRandomSource.load(std::memory_order_acquire)) return drawFromThreadEngine();
  std::function<std::uint32_t()> source;
  {
    std::lock_guard lock(state.mutex);
    source = state.randomSource;
  }
  return source ? source() % 65535 : drawFromThreadEngine();
}

inline ZSDK_ZTKSessionFetcher::TestBlock globalTestBlock() {
  auto& state = classState();
  if (!state.hasGlobalTestBlock.load(std::memory_order_acquire)) return nullptr;
  std::lock_guard lock(state.mutex);
  return state.globalTestBlock;
}

inline TimeInterval randomMinRetryInterval() { return 1.0 + drawRetryRandom() / 65535.0; }

inline bool isLocalhost(std::string_view host) {
  return asciiEqualIgnoringCase(host, "localhost") || host == "::1" || host == "127.0.0.1";
}

inline void consoleLog(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

inline std::string requestURLString(const std::shared_ptr<URLRequest>& request) {
  return request && request->url ? request->url->absoluteString() : "(missing URL)";
}

inline Value::Dictionary failingURLUserInfo(const std::shared_ptr<URLRequest>& request) {
  return {{NSURLErrorFailingURLStringErrorKey, requestURLString(request)}};
}

// The leading integer of a text, as the platform reads one: blanks, a sign, digits; 0 otherwise.
// Magnitudes past `cap` read as `cap`.
inline long long leadingIntegerValue(std::string_view text, long long cap = INT_MAX) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    const int digit = text[i] - '0';
    value = value > (cap - digit) / 10 ? cap : value * 10 + digit;
  }
  return negative ? -value : value;
}

// Same host (without regard to case) and port; a missing URL is never the same.
inline bool isSameOrigin(const std::optional<URL>& url, const URL& other) {
  return url && asciiEqualIgnoringCase(url->host().value_or(""), other.host().value_or("")) &&
         url->effectivePort() == other.effectivePort();
}

// The redirect URL with `scheme` in place of its own.
inline std::optional<URL> urlWithScheme(const URL& url, const std::string& scheme) {
  const std::string& text = url.absoluteString();
  const auto colon = text.find(':');
  if (colon == std::string::npos) return url;
  return URL::URLWithString(scheme + text.substr(colon));
}

// Not from the retry source: a test's fixed minimum interval must not make identifiers collide.
inline std::string makeUUIDString() {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::uint8_t bytes[16];
  {
    auto& state = classState();
    std::lock_guard lock(state.mutex);
    std::uniform_int_distribution<unsigned> distribution(0, 255);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(distribution(state.engine));
  }
  std::string text;
  for (int i = 0; i < 16; ++i) {
    unsigned byte = bytes[i];
    if (i == 6) byte = (byte & 0x0F) | 0x40;
    if (i == 8) byte = (byte & 0x3F) | 0x80;
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0F];
  }
  return text;
}

inline nlohmann::json jsonFromValue(const Value& value) {
  if (auto s = value.asString()) return *s;
  if (auto b = value.asBool()) return *b;
  if (value.isInteger()) return *value.asInteger();
  if (value.isReal()) return *value.asReal();
  if (auto a = value.asArray()) {
    auto array = nlohmann::json::array();
    for (const auto& item : *a) array.push_back(jsonFromValue(item));
    return array;
  }
  if (auto d = value.asDictionary()) {
    auto object = nlohmann::json::object();
    for (const auto& [key, item] : *d) object[key] = jsonFromValue(item);
    return object;
  }
  if (value.isNull()) return nullptr;
  return value.description();
}

// The bytes of a stream, read in small pieces as a simulated upload would send them.
inline std::pair<Data, std::optional<NSError>> readWholeStream(const std::shared_ptr<InputStream>& stream) {
  Data body;
  if (!stream) return {body, std::nullopt};
  stream->open();
  std::uint8_t buffer[512];
  while (stream->hasBytesAvailable()) {
    const long n = stream->read(buffer, sizeof buffer);
    if (n <= 0) break;
    body.bytes.insert(body.bytes.end(), buffer, buffer + n);
  }
  stream->close();
  return {body, stream->streamError()};
}

// Reports `length` bytes in three steps or so: (chunk, so far, total).
inline void reportInChunks(std::int64_t length,
                           const std::function<void(std::int64_t, std::int64_t, std::int64_t)>& report) {
  if (length < 1 || !report) return;
  const std::int64_t chunk = length / 3 + 1;
  for (std::int64_t sent = 0; sent < length;) {
    const std::int64_t piece = std::min(chunk, length - sent);
    sent += piece;
    report(piece, sent, length);
  }
}

// Leaves the callback group however the caller's block ends.
struct GroupLeaver {
  DispatchGroup group;
  ~GroupLeaver() { group.leave(); }
};

}  // namespace ztk_fetcher_detail

template <class Block>
void ZSDK_ZTKSessionFetcher::dispatchToCallbackQueue(std::shared_ptr<ZSDK_ZTKSessionFetcher> self, DispatchQueue& queue,
                                                     DispatchGroup group, bool afterUserStopped, Block block) {
  group.enter();
  queue.async([self = std::move(self), group = std::move(group), afterUserStopped, block = std::move(block)]() mutable {
    // Run once: the group moves out of the closure.
    ztk_fetcher_detail::GroupLeaver leaver{std::move(group)};
    if (afterUserStopped || !self->userStoppedFetching_.load(std::memory_order_acquire)) block();
  });
}
