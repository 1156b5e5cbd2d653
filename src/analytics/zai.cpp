#include "analytics/zai.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <random>
#include <vector>

#include "analytics/zai_fields.h"
#include "analytics/zai_hit_store.h"
#include "analytics/zai_tracker.h"
#include "platform/foundation/dispatch.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/url_session.h"

namespace {

// Enough for weeks of screen views; older hits give way to newer ones.
constexpr std::size_t kMaxStoredHits = 2000;
constexpr const char* kClientIdProperty = "clientId";

std::string formEncodeComponent(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

// "&cd" goes on the wire as "cd".
std::string formEncode(const std::map<std::string, std::string>& fields) {
  std::string body;
  for (const auto& [key, value] : fields) {
    if (key.empty()) continue;
    if (!body.empty()) body += '&';
    body += formEncodeComponent(key[0] == '&' ? key.substr(1) : key);
    body += '=';
    body += formEncodeComponent(value);
  }
  return body;
}

std::string makeClientId() {
  std::random_device device;
  std::mt19937_64 generator((static_cast<std::uint64_t>(device()) << 32) ^ device());
  std::uint64_t hi = generator(), lo = generator();
  hi = (hi & ~0xF000ULL) | 0x4000ULL;                  // version 4
  lo = (lo & ~(0xC000ULL << 48)) | (0x8000ULL << 48);  // variant 1
  char text[37];
  std::snprintf(text, sizeof text, "%08llx-%04llx-%04llx-%04llx-%012llx", static_cast<unsigned long long>(hi >> 32),
                static_cast<unsigned long long>((hi >> 16) & 0xFFFF), static_cast<unsigned long long>(hi & 0xFFFF),
                static_cast<unsigned long long>(lo >> 48), static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFULL));
  return text;
}

// A collector that refuses a hit for good will refuse it on every retry too.
bool isPermanentRejection(int status) { return status >= 400 && status < 500 && status != 408 && status != 429; }

}  // namespace

struct ZAI::Impl : std::enable_shared_from_this<ZAI::Impl> {
  using Handler = std::function<void(ZAIDispatchResult)>;

  explicit Impl(std::string path) : databasePath(std::move(path)) {}
  ~Impl() {
    if (session) session->finishTasksAndInvalidate();
  }

  const std::string databasePath;
  const std::shared_ptr<DispatchQueue> queue = DispatchQueue::make("ZAI");

  mutable std::mutex urlMutex;
  std::optional<URL> url;

  // Queue only.
  std::unique_ptr<ZAIHitStore> store;
  bool storeTried = false;
  std::string clientId;
  std::shared_ptr<URLSession> session;
  bool dispatching = false;
  bool sentAny = false;
  std::vector<Handler> waiters;

  std::optional<URL> currentURL() const {
    std::lock_guard lock(urlMutex);
    return url;
  }

  ZAIHitStore* openStore() {
    if (!storeTried) {
      storeTried = true;
      std::string refused;
      store = ZAIHitStore::open(databasePath, &refused);
      if (!refused.empty()) std::fprintf(stderr, "dorvale: no analytics this run: %s\n", refused.c_str());
      if (store) {
        auto stored = store->property(kClientIdProperty);
        clientId = stored ? *stored : makeClientId();
        if (!stored) store->setProperty(kClientIdProperty, clientId);
      }
    }
    return store.get();
  }

  void storeHit(std::map<std::string, std::string> fields) {
    auto* hits = openStore();
    if (!hits) return;
    fields.insert_or_assign(kZAIProtocolVersion, std::string(1, '1'));
    fields[kZAIClientId] = clientId;
    hits->add(formEncode(fields), kMaxStoredHits);
  }

  void requestDispatch(Handler handler) {
    if (handler) waiters.push_back(std::move(handler));
    if (dispatching) return;  // the round in flight takes every hit stored meanwhile
    dispatching = true;
    sentAny = false;
    sendNext();
  }

  void sendNext() {
    auto* hits = openStore();
    auto target = currentURL();
    std::optional<ZAIHitStore::Hit> hit;
    if (hits && target) hit = hits->oldest();
    if (!hit) return finishRound(sentAny ? ZAIDispatchResult::Good : ZAIDispatchResult::NoData);

    if (!session) {
      auto configuration = URLSessionConfiguration::defaultSessionConfiguration();
      // The collector's answers are read for their status only.
      configuration.maximumResponseBodySize = 1024 * 1024;
      session = URLSession::sessionWithConfiguration(configuration, nullptr, queue);
    }
    URLRequest request(*target, 30);
    request.httpMethod = "POST";
    request.setValue("application/x-www-form-urlencoded", "Content-Type");
    request.httpBody = Data::fromString(hit->body);
    auto id = hit->id;
    auto task = session->dataTaskWithRequest(
        request, [self = shared_from_this(), id](std::optional<Data>, std::shared_ptr<const URLResponse> response,
                                                 std::optional<NSError> error) {
          auto* http = dynamic_cast<const HTTPURLResponse*>(response.get());
          const int status = http ? http->statusCode() : 0;
          const bool delivered = !error && status >= 200 && status < 300;
          if (delivered || (!error && isPermanentRejection(status))) {
            if (self->store) self->store->remove(id);
            self->sentAny = self->sentAny || delivered;
            self->sendNext();
          } else {
            self->finishRound(ZAIDispatchResult::Error);
          }
        });
    task->resume();
  }

  void finishRound(ZAIDispatchResult result) {
    dispatching = false;
    auto handlers = std::move(waiters);
    waiters.clear();
    for (auto& handler : handlers) {
      DispatchQueue::main()->async([handler = std::move(handler), result] { handler(result); });
    }
  }
};

std::shared_ptr<ZAI> ZAI::sharedInstance() {
  static auto* instance = [] {
    std::optional<URL> url;
    if (const char* text = std::getenv("DORVALE_ANALYTICS_URL")) {
      url = URL::URLWithString(text);
      if (!url) std::fprintf(stderr, "DORVALE_ANALYTICS_URL is not a URL (%s): analytics hits stay stored\n", text);
    }
    return new std::shared_ptr<ZAI>(make(UserDefaults::applicationDataDirectory() + "/analytics/hits.sqlite", url));
  }();
  return *instance;
}

std::shared_ptr<ZAI> ZAI::make(std::string databasePath, std::optional<URL> dispatchURL) {
  auto impl = std::make_shared<Impl>(std::move(databasePath));
  std::shared_ptr<ZAI> analytics(new ZAI(impl));
  if (dispatchURL) analytics->setDispatchURL(std::move(dispatchURL));
  return analytics;
}

ZAI::~ZAI() = default;

std::shared_ptr<ZAITracker> ZAI::trackerWithTrackingId(const std::string& trackingId) {
  std::lock_guard lock(mutex_);
  auto& tracker = trackers_[trackingId];
  if (!tracker) tracker = std::make_shared<ZAITracker>(trackingId, weak_from_this());
  if (!defaultTracker_) defaultTracker_ = tracker;
  return tracker;
}

std::shared_ptr<ZAITracker> ZAI::defaultTracker() const {
  std::lock_guard lock(mutex_);
  return defaultTracker_;
}

void ZAI::setDefaultTracker(std::shared_ptr<ZAITracker> tracker) {
  std::lock_guard lock(mutex_);
  defaultTracker_ = std::move(tracker);
}

std::optional<URL> ZAI::dispatchURL() const { return impl_->currentURL(); }

void ZAI::setDispatchURL(std::optional<URL> url) {
  {
    std::lock_guard lock(impl_->urlMutex);
    impl_->url = std::move(url);
  }
  dispatch();
}

void ZAI::dispatch() { dispatchWithCompletionHandler(nullptr); }

void ZAI::dispatchWithCompletionHandler(std::function<void(ZAIDispatchResult)> handler) {
  impl_->queue->async(
      [impl = impl_, handler = std::move(handler)]() mutable { impl->requestDispatch(std::move(handler)); });
}

std::size_t ZAI::pendingHitCount() const {
  std::size_t count = 0;
  impl_->queue->sync([&] {
    if (auto* hits = impl_->openStore()) count = hits->count();
  });
  return count;
}

bool ZAI::waitUntilStored(TimeInterval timeout) const {
  // The queue is serial: once this runs, every hit queued before it is stored.
  auto reached = std::make_shared<std::promise<void>>();
  auto future = reached->get_future();
  impl_->queue->async([reached] { reached->set_value(); });
  return future.wait_for(std::chrono::duration<double>(timeout)) == std::future_status::ready;
}

void ZAI::enqueueHit(std::map<std::string, std::string> fields) {
  impl_->queue->async([impl = impl_, fields = std::move(fields)]() mutable {
    impl->storeHit(std::move(fields));
    impl->requestDispatch(nullptr);
  });
}
