#include "platform/ui/ui_application.h"

#include <algorithm>

namespace {
std::shared_ptr<UIApplication>& sharedSlot() {
  static auto application = std::make_shared<UIApplication>();
  return application;
}
}  // namespace

std::shared_ptr<UIApplication> UIApplication::sharedApplication() { return sharedSlot(); }

void UIApplication::setSharedApplication(std::shared_ptr<UIApplication> application) {
  sharedSlot() = application ? std::move(application) : std::make_shared<UIApplication>();
}

void UIApplication::resetSharedApplication() { sharedSlot() = std::make_shared<UIApplication>(); }

bool UIApplication::canOpenURL(const URL& url) {
  canOpenQueries_.push_back(url);
  auto scheme = url.scheme();
  return scheme && handledSchemes_.count(*scheme) > 0;
}

bool UIApplication::openURL(const URL& url) {
  auto scheme = url.scheme();
  if (!scheme || handledSchemes_.count(*scheme) == 0) return false;
  std::optional<std::string> failure;
  if (webBrowser_ && (*scheme == "http" || *scheme == "https")) {
    if (auto started = webBrowser_(url); !started) failure = std::move(started.error());
  }
  urlOpenings_.push_back({url, failure});
  if (failure) return false;
  openedURLs_.push_back(url);
  return true;
}

bool UIApplication::deliverOpenURL(const URL& url, const std::optional<std::string>& sourceApplication,
                                   const Value& annotation) {
  auto d = delegate_;
  return d && d->applicationOpenURL(*this, url, sourceApplication, annotation);
}

void UIApplication::resignActive() {
  if (state_ != UIApplicationState::Active) return;
  if (auto d = delegate_) d->applicationWillResignActive(*this);
  state_ = UIApplicationState::Inactive;
}

void UIApplication::enterBackground() {
  resignActive();
  if (state_ == UIApplicationState::Background) return;
  state_ = UIApplicationState::Background;
  if (auto d = delegate_) d->applicationDidEnterBackground(*this);
}

void UIApplication::enterForeground() {
  if (state_ != UIApplicationState::Background) return;
  if (auto d = delegate_) d->applicationWillEnterForeground(*this);
  state_ = UIApplicationState::Inactive;
}

void UIApplication::becomeActive() {
  enterForeground();
  if (state_ == UIApplicationState::Active) return;
  state_ = UIApplicationState::Active;
  if (auto d = delegate_) d->applicationDidBecomeActive(*this);
}

void UIApplication::terminate() {
  if (auto d = delegate_) d->applicationWillTerminate(*this);
}

void UIApplication::deliverBackgroundURLSessionEvents(const std::string& identifier,
                                                      std::function<void()> completionHandler) {
  if (auto d = delegate_)
    d->applicationHandleEventsForBackgroundURLSession(*this, identifier, std::move(completionHandler));
}

UIBackgroundTaskIdentifier UIApplication::beginBackgroundTaskWithExpirationHandler(std::function<void()> handler) {
  std::lock_guard lock(tasksMutex_);
  auto id = nextTask_++;
  tasks_.push_back({id, std::move(handler)});
  ++openTasks_;
  return id;
}

std::vector<UIApplication::OpenBackgroundTask>::iterator UIApplication::findTask(
    UIBackgroundTaskIdentifier identifier) {
  if (tasks_.empty() || identifier < tasks_.front().identifier) return tasks_.end();
  // With no gap dropped before it, a task sits at its distance from the first one.
  const auto guess = identifier - tasks_.front().identifier;
  if (guess < tasks_.size() && tasks_[guess].identifier == identifier) return tasks_.begin() + guess;
  auto found =
      std::lower_bound(tasks_.begin(), tasks_.end(), identifier,
                       [](const OpenBackgroundTask& t, UIBackgroundTaskIdentifier id) { return t.identifier < id; });
  return found != tasks_.end() && found->identifier == identifier ? found : tasks_.end();
}

void UIApplication::dropEndedTasks() {
  while (!tasks_.empty() && !tasks_.back().open) tasks_.pop_back();
  const std::size_t ended = tasks_.size() - openTasks_;
  // Each sweep moves no more tasks than have ended since the last one.
  if (ended < 16 || ended <= openTasks_) return;
  std::erase_if(tasks_, [](const OpenBackgroundTask& t) { return !t.open; });
}

void UIApplication::endBackgroundTask(UIBackgroundTaskIdentifier identifier) {
  std::function<void()> ended;  // its captures go after the lock
  std::lock_guard lock(tasksMutex_);
  auto found = findTask(identifier);
  if (found == tasks_.end() || !found->open) return;
  ended = std::move(found->expirationHandler);
  found->expirationHandler = nullptr;
  found->open = false;
  --openTasks_;
  dropEndedTasks();
}

std::size_t UIApplication::openBackgroundTaskCount() const {
  std::lock_guard lock(tasksMutex_);
  return openTasks_;
}

void UIApplication::expireBackgroundTasks() {
  std::vector<std::function<void()>> handlers;
  {
    std::lock_guard lock(tasksMutex_);
    for (const auto& task : tasks_) {
      if (task.open) handlers.push_back(task.expirationHandler);
    }
  }
  // Outside the lock: handlers end their tasks.
  for (auto& handler : handlers) {
    if (handler) handler();
  }
}
