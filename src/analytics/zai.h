#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/date.h"
#include "platform/foundation/url.h"

class ZAITracker;

enum class ZAIDispatchResult { NoData, Good, Error };

// The usage-analytics component. Trackers hand it their hits; on its own serial queue each hit
// is stored in an SQLite table and sent as a form-encoded POST to the dispatch URL, oldest first.
// Without a dispatch URL hits wait in the store. A hit whose dispatch fails stays stored for the
// next try (the next hit, or an explicit dispatch). Thread-safe.
class ZAI : public std::enable_shared_from_this<ZAI> {
 public:
  // The one component, over the application data directory; its dispatch URL comes from
  // $DORVALE_ANALYTICS_URL when set. Never released.
  static std::shared_ptr<ZAI> sharedInstance();
  // A component over the store at `databasePath` (tests; a later one over the same path finds
  // the hits an earlier one left).
  static std::shared_ptr<ZAI> make(std::string databasePath, std::optional<URL> dispatchURL = std::nullopt);
  ~ZAI();

  // The tracker of that id, made on first request; the first one made becomes the default tracker.
  std::shared_ptr<ZAITracker> trackerWithTrackingId(const std::string& trackingId);
  std::shared_ptr<ZAITracker> defaultTracker() const;
  void setDefaultTracker(std::shared_ptr<ZAITracker> tracker);

  std::optional<URL> dispatchURL() const;
  // Setting a URL also sends what is waiting.
  void setDispatchURL(std::optional<URL> url);

  // Sends the stored hits now. The handler runs on the main run loop once the store is empty
  // (Good, or NoData when nothing was sent) or a send failed (Error).
  void dispatch();
  void dispatchWithCompletionHandler(std::function<void(ZAIDispatchResult)> handler);

  // The hits still stored, after the work queued so far (waits for the queue).
  std::size_t pendingHitCount() const;

  // Waits, in real time and at most `timeout` seconds, until every hit sent so far is in the
  // store, so that a program about to end drops none; false when the time ran out. Delivery to
  // the collector is not waited for: stored hits go out on a later run.
  bool waitUntilStored(TimeInterval timeout) const;

  struct Impl;

 private:
  friend class ZAITracker;
  explicit ZAI(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}
  void enqueueHit(std::map<std::string, std::string> fields);

  std::shared_ptr<Impl> impl_;
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<ZAITracker>> trackers_;
  std::shared_ptr<ZAITracker> defaultTracker_;
};
