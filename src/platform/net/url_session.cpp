#include "platform/net/url_session.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <unordered_map>

#include "platform/net/curl_engine.h"
#include "platform/net/transfer.h"
#include "platform/net/url_error.h"

using net_detail::Transfer;

struct URLSession::Private {
  // Tasks whose last reference may be dropped while the mutex is held: their destructors take
  // it again (taskEnded), so they die only once it is released.
  using Survivors = std::vector<std::shared_ptr<URLSessionTask>>;
  struct Listed {
    const URLSessionTask* task;  // identifies the entry without locking `weak`
    std::weak_ptr<URLSessionTask> weak;
  };

  // Gives the list's first buffer from the session's own allocation: a fetcher's session runs
  // one task, and a list that grows past one takes from the heap as usual.
  template <class T>
  struct FirstSlotAllocator {
    using value_type = T;
    struct Slot {
      alignas(T) std::byte bytes[sizeof(T)];
      bool used = false;
    };
    Slot* slot;
    explicit FirstSlotAllocator(Slot& s) : slot(&s) {}
    T* allocate(std::size_t n) {
      if (n == 1 && !slot->used) {
        slot->used = true;
        return reinterpret_cast<T*>(slot->bytes);
      }
      return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, std::size_t n) {
      if (p == reinterpret_cast<T*>(slot->bytes)) {
        slot->used = false;
      } else {
        std::allocator<T>().deallocate(p, n);
      }
    }
    bool operator==(const FirstSlotAllocator& other) const { return slot == other.slot; }
  };
  using TaskAllocator = FirstSlotAllocator<Listed>;

  std::mutex mutex;
  std::shared_ptr<URLSessionDelegate> delegate;
  std::optional<std::string> description;
  bool invalidated = false;
  bool invalidationQueued = false;
  TaskAllocator::Slot firstTaskSlot;
  // Not yet ended, in the order made. An entry that ends early becomes a hole (null task), so
  // the others keep their places; holes go once they are half the list.
  std::vector<Listed, TaskAllocator> tasks{TaskAllocator(firstTaskSlot)};
  // Where each task sits in `tasks`, kept only while the list is longer than a scan is worth:
  // a session with thousands of tasks running finds the one that ends without looking at each.
  std::unordered_map<const URLSessionTask*, std::size_t> positions;
  std::size_t holes = 0;
  static constexpr std::size_t kScanLimit = 8;

  void add(const std::shared_ptr<URLSessionTask>& task) {
    tasks.push_back({task.get(), task});
    if (!positions.empty()) {
      positions.emplace(task.get(), tasks.size() - 1);
    } else if (tasks.size() > kScanLimit) {
      reindex();
    }
  }

  void remove(const URLSessionTask* ended) {
    if (positions.empty()) {
      auto found = std::find_if(tasks.begin(), tasks.end(), [&](const Listed& l) { return l.task == ended; });
      if (found != tasks.end()) tasks.erase(found);
      return;
    }
    auto found = positions.find(ended);
    if (found == positions.end()) return;
    tasks[found->second] = Listed{nullptr, {}};
    positions.erase(found);
    if (++holes * 2 > tasks.size()) dropHoles();
  }

  void dropHoles() {
    tasks.erase(std::remove_if(tasks.begin(), tasks.end(), [](const Listed& l) { return !l.task; }), tasks.end());
    reindex();
  }

  void reindex() {
    holes = 0;
    positions.clear();
    if (tasks.size() <= kScanLimit) return;
    for (std::size_t i = 0; i < tasks.size(); ++i) positions.emplace(tasks[i].task, i);
  }

  void clear() {
    tasks.clear();
    reindex();
  }

  // Caller holds the mutex and destroys `survivors` after releasing it. `ended` (if any) leaves
  // the list. True when didBecomeInvalidWithError is now due.
  bool invalidationDue(const URLSessionTask* ended, Survivors& survivors) {
    if (ended) remove(ended);
    if (!invalidated || invalidationQueued) return false;
    // Invalidated: what else ended (a task moved between sessions as it ended) goes too.
    tasks.erase(std::remove_if(tasks.begin(), tasks.end(),
                               [&](const Listed& l) {
                                 auto task = l.weak.lock();
                                 if (!task) return true;
                                 bool isEnded = task->state() == URLSessionTaskState::Completed;
                                 survivors.push_back(std::move(task));
                                 return isEnded;
                               }),
                tasks.end());
    reindex();
    if (!tasks.empty()) return false;
    invalidationQueued = true;
    return true;
  }
};

namespace {

// Background identifier -> the session last made with it.
struct BackgroundSessions {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<URLSession>> byIdentifier;
};

BackgroundSessions& backgroundSessions() {
  static auto* sessions = new BackgroundSessions();  // never destroyed: sessions may outlive static teardown
  return *sessions;
}

void queueInvalidation(const std::shared_ptr<URLSession>& session, URLSession::Private& p) {
  // Behind the last task's callbacks, which the engine may still hold for the end of its turn.
  net_detail::CurlEngine::deliver(session->delegateQueue(), [session, &p] {
    if (auto delegate = p.delegate) delegate->didBecomeInvalidWithError(session, std::nullopt);  // dropped only here
    std::shared_ptr<URLSessionDelegate> released;  // its destructor may drop tasks of this session
    std::lock_guard lock(p.mutex);
    released = std::move(p.delegate);
  });
}

// The engine side of a new task. Upload tasks name their body in `setup`; the others send the
// request's own.
std::shared_ptr<Transfer> transferFor(const std::shared_ptr<const URLRequest>& request, Transfer::Setup setup) {
  if (setup.kind != Transfer::Kind::Upload && request->httpBody) {
    setup.bodySource = Transfer::BodySource::Data;
    setup.bodyData = std::shared_ptr<const Data>(request, &*request->httpBody);  // shares the request's
  } else if (setup.kind != Transfer::Kind::Upload && request->httpBodyStream) {
    setup.bodySource = Transfer::BodySource::Stream;
  }
  return std::make_shared<Transfer>(std::move(setup));
}

}  // namespace

URLSession::URLSession(const URLSessionConfiguration& configuration, std::shared_ptr<URLSessionDelegate> delegate,
                       std::shared_ptr<DispatchQueue> delegateQueue, Private& p)
    : configuration_(configuration),
      delegateQueue_(delegateQueue ? std::move(delegateQueue) : DispatchQueue::make("URLSession delegate queue")),
      p_(&p) {
  p_->delegate = std::move(delegate);
}

URLSession::~URLSession() {
  if (!configuration_.identifier) return;
  auto& registry = backgroundSessions();
  std::lock_guard lock(registry.mutex);
  auto found = registry.byIdentifier.find(*configuration_.identifier);
  if (found != registry.byIdentifier.end() && found->second.expired()) registry.byIdentifier.erase(found);
}

std::size_t URLSession::transfersInFlight() { return net_detail::transfersInFlight(); }

std::shared_ptr<void> URLSession::holdTransferInFlight() { return net_detail::countTransferInFlight(); }

std::shared_ptr<URLSession> URLSession::sharedSession() {
  static const auto shared = sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration());
  return shared;
}

std::shared_ptr<URLSession> URLSession::sessionWithConfiguration(const URLSessionConfiguration& configuration) {
  return sessionWithConfiguration(configuration, nullptr, nullptr);
}

std::shared_ptr<URLSession> URLSession::sessionWithConfiguration(const URLSessionConfiguration& configuration,
                                                                 std::shared_ptr<URLSessionDelegate> delegate,
                                                                 std::shared_ptr<DispatchQueue> delegateQueue) {
  // The session, its state and its count in one allocation: a fetcher makes a session per fetch.
  // The state comes first, so it is made before the session and outlives it.
  struct State {
    Private p;
  };
  struct Made : State, URLSession {
    Made(const URLSessionConfiguration& c, std::shared_ptr<URLSessionDelegate> d, std::shared_ptr<DispatchQueue> q)
        : URLSession(c, std::move(d), std::move(q), p) {}
  };
  std::shared_ptr<URLSession> session =
      std::make_shared<Made>(configuration, std::move(delegate), std::move(delegateQueue));
  if (configuration.identifier) session->adoptBackgroundTasks();
  return session;
}

// No transfer daemon keeps background tasks apart from the process, so a session made again
// with a background identifier gets the tasks still running in the earlier one.
void URLSession::adoptBackgroundTasks() {
  std::shared_ptr<URLSession> previous;
  {
    auto& registry = backgroundSessions();
    std::lock_guard lock(registry.mutex);
    auto& entry = registry.byIdentifier[*configuration_.identifier];
    previous = entry.lock();
    entry = weak_from_this();
  }
  if (!previous) return;
  std::vector<std::shared_ptr<URLSessionTask>> moved;
  Private::Survivors survivors;
  bool due;
  {
    std::lock_guard lock(previous->p_->mutex);
    for (const auto& listed : previous->p_->tasks) {
      auto task = listed.weak.lock();
      if (!task) continue;
      if (task->state() != URLSessionTaskState::Completed) moved.push_back(task);
      survivors.push_back(std::move(task));
    }
    previous->p_->clear();
    due = previous->p_->invalidationDue(nullptr, survivors);
  }
  {
    std::lock_guard lock(p_->mutex);
    for (const auto& task : moved) p_->add(task);
  }
  auto self = shared_from_this();
  for (const auto& task : moved) {
    {
      std::lock_guard lock(task->mutex_);
      task->session_ = self;
    }
    net_detail::CurlEngine::shared().post([transfer = task->transfer_, task, self] { transfer->rebind(task, self); });
  }
  if (due) queueInvalidation(previous, *previous->p_);
}

std::shared_ptr<URLSessionDelegate> URLSession::delegate() const {
  std::lock_guard lock(p_->mutex);
  return p_->delegate;
}

std::shared_ptr<URLSessionDelegate> URLSession::delegateOnQueue() const { return p_->delegate; }

std::optional<std::string> URLSession::sessionDescription() const {
  std::lock_guard lock(p_->mutex);
  return p_->description;
}

void URLSession::setSessionDescription(std::optional<std::string> description) {
  std::lock_guard lock(p_->mutex);
  p_->description = std::move(description);
}

template <class T>
std::shared_ptr<T> URLSession::makeTask(std::shared_ptr<const URLRequest> request,
                                        std::shared_ptr<net_detail::Transfer> transfer) {
  auto task = std::make_shared<T>(shared_from_this(), std::move(request));
  task->transfer_ = transfer;
  std::lock_guard lock(p_->mutex);
  if (p_->invalidated) {
    transfer->failOnStart(NSURLErrorCancelled);
  } else {
    p_->add(task);
  }
  return task;
}

std::shared_ptr<URLSessionDownloadTask> URLSession::adoptDownloadTask(const std::shared_ptr<const URLRequest>& request,
                                                                      std::shared_ptr<net_detail::Transfer> transfer) {
  auto task = std::make_shared<URLSessionDownloadTask>(shared_from_this(), request);
  task->transfer_ = std::move(transfer);
  task->state_ = URLSessionTaskState::Running;
  std::lock_guard lock(p_->mutex);
  p_->add(task);
  return task;
}

void URLSession::taskEnded(const URLSessionTask* task) {
  bool due;
  Private::Survivors survivors;
  {
    std::lock_guard lock(p_->mutex);
    due = p_->invalidationDue(task, survivors);
  }
  if (due) queueInvalidation(shared_from_this(), *p_);
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTaskWithRequest(const URLRequest& request) {
  return dataTaskWithRequest(request, nullptr);
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTaskWithURL(const URL& url) {
  return dataTaskWithRequest(URLRequest(url));
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTaskWithRequest(const URLRequest& request,
                                                                    DataTaskCompletion completionHandler) {
  auto shared = std::make_shared<const URLRequest>(request);
  auto transfer = transferFor(shared, {.kind = Transfer::Kind::Data, .dataCompletion = std::move(completionHandler)});
  return makeTask<URLSessionDataTask>(std::move(shared), std::move(transfer));
}

std::shared_ptr<URLSessionUploadTask> URLSession::uploadTaskWithRequest(const URLRequest& request,
                                                                        const Data& bodyData) {
  return uploadTaskWithRequest(request, bodyData, nullptr);
}

std::shared_ptr<URLSessionUploadTask> URLSession::uploadTaskWithRequest(const URLRequest& request, const Data& bodyData,
                                                                        DataTaskCompletion completionHandler) {
  auto shared = std::make_shared<const URLRequest>(request);
  auto transfer = transferFor(shared, {.kind = Transfer::Kind::Upload,
                                       .bodySource = Transfer::BodySource::Data,
                                       .bodyData = std::make_shared<const Data>(bodyData),
                                       .dataCompletion = std::move(completionHandler)});
  return makeTask<URLSessionUploadTask>(std::move(shared), std::move(transfer));
}

std::shared_ptr<URLSessionUploadTask> URLSession::uploadTaskWithRequest(const URLRequest& request, const URL& fileURL) {
  auto shared = std::make_shared<const URLRequest>(request);
  auto transfer = transferFor(
      shared,
      {.kind = Transfer::Kind::Upload, .bodySource = Transfer::BodySource::File, .bodyFilePath = fileURL.path()});
  return makeTask<URLSessionUploadTask>(std::move(shared), std::move(transfer));
}

std::shared_ptr<URLSessionUploadTask> URLSession::uploadTaskWithStreamedRequest(const URLRequest& request) {
  auto shared = std::make_shared<const URLRequest>(request);
  auto transfer = transferFor(shared, {.kind = Transfer::Kind::Upload, .bodySource = Transfer::BodySource::Stream});
  return makeTask<URLSessionUploadTask>(std::move(shared), std::move(transfer));
}

std::shared_ptr<URLSessionDownloadTask> URLSession::downloadTaskWithRequest(const URLRequest& request) {
  return downloadTaskWithRequest(request, nullptr);
}

std::shared_ptr<URLSessionDownloadTask> URLSession::downloadTaskWithURL(const URL& url) {
  return downloadTaskWithRequest(URLRequest(url));
}

std::shared_ptr<URLSessionDownloadTask> URLSession::downloadTaskWithRequest(const URLRequest& request,
                                                                            DownloadTaskCompletion completionHandler) {
  auto shared = std::make_shared<const URLRequest>(request);
  auto transfer =
      transferFor(shared, {.kind = Transfer::Kind::Download, .downloadCompletion = std::move(completionHandler)});
  return makeTask<URLSessionDownloadTask>(std::move(shared), std::move(transfer));
}

std::shared_ptr<URLSessionDownloadTask> URLSession::downloadTaskWithResumeData(const Data& resumeData) {
  auto resume = net_detail::decodeResumeData(resumeData);
  if (!resume) {
    return makeTask<URLSessionDownloadTask>(
        nullptr, transferFor(std::make_shared<const URLRequest>(),
                             {.kind = Transfer::Kind::Download, .failOnStart = NSURLErrorCannotOpenFile}));
  }
  auto request = std::make_shared<const URLRequest>(resume->request);
  auto transfer = transferFor(request, {.kind = Transfer::Kind::Download,
                                        .resume = std::make_unique<const net_detail::ResumeData>(std::move(*resume))});
  return makeTask<URLSessionDownloadTask>(std::move(request), std::move(transfer));
}

void URLSession::getTasksWithCompletionHandler(TasksCompletion completionHandler) {
  std::vector<std::shared_ptr<URLSessionDataTask>> data;
  std::vector<std::shared_ptr<URLSessionUploadTask>> uploads;
  std::vector<std::shared_ptr<URLSessionDownloadTask>> downloads;
  Private::Survivors survivors;
  {
    std::lock_guard lock(p_->mutex);
    for (const auto& listed : p_->tasks) {
      auto task = listed.weak.lock();
      if (!task) continue;
      survivors.push_back(task);
      if (task->state() == URLSessionTaskState::Completed) continue;
      if (auto upload = std::dynamic_pointer_cast<URLSessionUploadTask>(task)) {
        uploads.push_back(upload);
      } else if (auto dataTask = std::dynamic_pointer_cast<URLSessionDataTask>(task)) {
        data.push_back(dataTask);
      } else if (auto download = std::dynamic_pointer_cast<URLSessionDownloadTask>(task)) {
        downloads.push_back(download);
      }
    }
  }
  delegateQueue_->async([completionHandler = std::move(completionHandler), data, uploads, downloads] {
    completionHandler(data, uploads, downloads);
  });
}

void URLSession::finishTasksAndInvalidate() {
  bool due;
  Private::Survivors survivors;
  {
    std::lock_guard lock(p_->mutex);
    p_->invalidated = true;
    due = p_->invalidationDue(nullptr, survivors);
  }
  if (due) queueInvalidation(shared_from_this(), *p_);
}

void URLSession::invalidateAndCancel() {
  std::vector<std::shared_ptr<URLSessionTask>> tasks;
  {
    std::lock_guard lock(p_->mutex);
    p_->invalidated = true;
    for (const auto& listed : p_->tasks)
      if (auto task = listed.weak.lock()) tasks.push_back(task);
  }
  for (const auto& task : tasks) task->cancel();
  finishTasksAndInvalidate();
}
