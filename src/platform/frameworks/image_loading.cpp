#include "platform/frameworks/image_loading.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <new>
#include <utility>
#include <vector>

#include "platform/foundation/ascii.h"
#include "platform/foundation/date.h"
#include "platform/foundation/dispatch.h"
#include "platform/net/url_error.h"
#include "platform/net/url_session.h"

namespace {

// What a call may add to a plain request; a table's rows add nothing.
struct RequestOptions {
  ImageFormat format;
  ImageFailureHandler failure;
  ImageSuccessHandler success;
};

// Nothing for options that add nothing to a plain request.
std::unique_ptr<RequestOptions> withOptions(RequestOptions&& options) {
  if (options.format.name == "original" && !options.format.transform && !options.failure && !options.success)
    return nullptr;
  return std::make_unique<RequestOptions>(std::move(options));
}

struct PendingRequest {
  std::uint64_t id = 0;
  std::weak_ptr<UIImageView> view;
  std::shared_ptr<URLSessionDataTask> task;  // none while it waits its turn
  // The address as text. Thousands of rows wait for their turn at once: one given as text is
  // parsed again when its download starts rather than kept parsed while it waits.
  std::string key;
  std::optional<URL> url;  // as given by a caller that had it parsed
  // The latest call's: a view asked again for the address it loads keeps the download.
  std::unique_ptr<RequestOptions> options;

  const std::string& formatName() const {
    static const ImageFormat plain;
    return options ? options->format.name : plain.name;
  }
};

// The request each view waits for, by view. An entry of a view that died is dropped when its
// answer comes; the id tells a newer view at the same address apart.
std::map<const UIImageView*, PendingRequest>& pendingRequests() {
  static std::map<const UIImageView*, PendingRequest> requests;
  return requests;
}

std::uint64_t nextRequestId() {
  static std::uint64_t id = 0;
  return ++id;
}

constexpr std::int64_t kMaxPictureBytes = 16 * 1024 * 1024;

// A grid of thousands of pictures asks for them all at once. Each host runs as many downloads
// as the session connects to it and the others wait their turn in order, three words each: a
// started one holds a task and its request, which a waiting picture is too many of to afford. A
// download counts for the host it is connected to, so one redirected elsewhere makes room on the
// host it left, and a host that never answers holds back only its own pictures. Pictures from many
// hosts wait in the session instead, for one of its connections in all. Either way a picture's
// timeout runs while it waits.
struct WaitingPicture {
  std::uint64_t id = 0;
  const UIImageView* view = nullptr;
  TimeInterval since = 0;  // since the reference date
};

struct HostDownloads {
  std::size_t running = 0;
  std::deque<WaitingPicture> waiting;
};

struct RunningDownload {
  unsigned long task = 0;
  std::string host;
};

struct Downloads {
  std::map<std::string, HostDownloads> hosts;        // by "host:port"
  std::map<std::uint64_t, RunningDownload> running;  // by request id
  std::size_t waiting = 0;
  // Keeps waiters for the network waiting while pictures wait their turn.
  std::shared_ptr<void> inFlight;
};

Downloads& downloads() {
  static auto* state = new Downloads();  // never destroyed, like the session
  return *state;
}

std::string hostOf(const URL& url) {
  return asciiLowercase(url.host().value_or("")) + ":" + std::to_string(url.effectivePort());
}

void downloadMoved(unsigned long task, const URL& to);

// Follows the downloads that are redirected to another host.
class PictureSessionDelegate : public URLSessionDelegate {
 public:
  void willPerformHTTPRedirection(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionTask>& task,
                                  const std::shared_ptr<const HTTPURLResponse>&, const URLRequest& newRequest,
                                  RedirectCompletion completionHandler) override {
    completionHandler(newRequest);
    if (newRequest.url) downloadMoved(task->taskIdentifier(), *newRequest.url);
  }
};

std::shared_ptr<URLSession> imageSession() {
  // Never destroyed: answers may still arrive while the process exits.
  static auto* session = new std::shared_ptr<URLSession>([] {
    auto configuration = URLSessionConfiguration::defaultSessionConfiguration();
    // A picture address can come from anyone: a body past this is no picture worth the memory.
    configuration.maximumResponseBodySize = kMaxPictureBytes;
    return URLSession::sessionWithConfiguration(configuration, std::make_shared<PictureSessionDelegate>(),
                                                DispatchQueue::main());
  }());
  return *session;
}

std::shared_ptr<UIImage> prepared(const std::shared_ptr<UIImage>& image, const ImageFormat& format) {
  if (!image || !format.transform) return image;
  return format.transform(image);
}

void deliver(UIImageView& view, const std::shared_ptr<UIImage>& image, const ImageSuccessHandler& success) {
  if (success) {
    success(image);
  } else {
    view.setImage(image);
  }
}

NSError loadingError(long code, const std::string& description, const std::string& address) {
  return NSError(ImageLoadingErrorDomain, code,
                 {{NSLocalizedDescriptionKey, description}, {NSURLErrorFailingURLStringErrorKey, address}});
}

}  // namespace

struct ImageCache::Entry {
  std::shared_ptr<UIImage> image;
  Entry* newer = nullptr;
  Entry* older = nullptr;
  Entry* nextInBucket = nullptr;
  std::uint32_t keyLength = 0;
  std::uint32_t format = 0;

  // The key's bytes follow the entry in its block.
  std::string_view key() const { return {reinterpret_cast<const char*>(this + 1), keyLength}; }

  static Entry* make(std::shared_ptr<UIImage> image, std::string_view key, std::uint32_t format) {
    void* block = ::operator new(sizeof(Entry) + key.size());
    auto* entry =
        new (block) Entry{std::move(image), nullptr, nullptr, nullptr, static_cast<std::uint32_t>(key.size()), format};
    std::memcpy(static_cast<char*>(block) + sizeof(Entry), key.data(), key.size());
    return entry;
  }
  static void destroy(Entry* entry) {
    entry->~Entry();
    ::operator delete(entry);
  }
};

namespace {

// Images without bytes still cost something, so their number stays bounded too. An image never
// changes, so its cost is the same when it leaves.
std::size_t costOf(const UIImage& image) {
  return std::max<std::size_t>(image.data() ? image.data()->size() : 0, 1024);
}

std::size_t hashOf(std::string_view key, std::uint32_t format) {
  return std::hash<std::string_view>{}(key) + format * std::size_t{0x9E3779B97F4A7C15u};
}

}  // namespace

ImageCache& ImageCache::shared() {
  static auto* cache = new ImageCache();
  return *cache;
}

ImageCache::ImageCache(std::size_t capacityBytes) : capacity_(capacityBytes) {}

ImageCache::~ImageCache() { removeAll(); }

std::vector<ImageCache::Entry*>::iterator ImageCache::bucketOf(std::string_view key, std::uint32_t format) {
  return buckets_.begin() + static_cast<std::ptrdiff_t>(hashOf(key, format) & (buckets_.size() - 1));
}

ImageCache::Entry* ImageCache::find(std::string_view key, std::uint32_t format) const {
  if (buckets_.empty()) return nullptr;
  Entry* entry = buckets_[hashOf(key, format) & (buckets_.size() - 1)];
  while (entry && (entry->format != format || entry->key() != key)) entry = entry->nextInBucket;
  return entry;
}

void ImageCache::insert(Entry& entry) {
  if (count_ >= buckets_.size() * 2) {
    // Every entry is in the use order: rehashing walks that rather than the old chains.
    buckets_.assign(std::max<std::size_t>(16, buckets_.size() * 2), nullptr);
    for (Entry* e = newest_; e; e = e->older) {
      auto bucket = bucketOf(e->key(), e->format);
      e->nextInBucket = *bucket;
      *bucket = e;
    }
  }
  auto bucket = bucketOf(entry.key(), entry.format);
  entry.nextInBucket = *bucket;
  *bucket = &entry;
  ++count_;
}

std::shared_ptr<UIImage> ImageCache::image(const std::string& key, const std::string& formatName) {
  auto format = std::find(formats_.begin(), formats_.end(), formatName);
  if (format == formats_.end()) return nullptr;
  Entry* entry = find(key, static_cast<std::uint32_t>(format - formats_.begin()));
  if (!entry) return nullptr;
  unlink(*entry);
  pushNewest(*entry);
  return entry->image;
}

void ImageCache::setImage(std::shared_ptr<UIImage> image, const std::string& key, const std::string& formatName) {
  if (!image || key.size() > UINT32_MAX) return;
  auto found = std::find(formats_.begin(), formats_.end(), formatName);
  const auto format = static_cast<std::uint32_t>(found - formats_.begin());
  if (found == formats_.end()) formats_.push_back(formatName);
  Entry* entry = find(key, format);
  if (entry) {
    total_ -= costOf(*entry->image);
    unlink(*entry);
    entry->image = std::move(image);
  } else {
    entry = Entry::make(std::move(image), key, format);
    // Inserted before it is linked into the use order, so a rehash places it once.
    insert(*entry);
  }
  total_ += costOf(*entry->image);
  pushNewest(*entry);
  while (total_ > capacity_ && count_ > 1) evictOldest();
}

void ImageCache::removeAll() {
  for (Entry* entry = newest_; entry;) {
    Entry* older = entry->older;
    Entry::destroy(entry);
    entry = older;
  }
  std::vector<Entry*>().swap(buckets_);
  formats_.clear();
  newest_ = oldest_ = nullptr;
  total_ = count_ = 0;
}

void ImageCache::unlink(Entry& entry) {
  (entry.newer ? entry.newer->older : newest_) = entry.older;
  (entry.older ? entry.older->newer : oldest_) = entry.newer;
  entry.newer = entry.older = nullptr;
}

void ImageCache::pushNewest(Entry& entry) {
  entry.older = newest_;
  (newest_ ? newest_->newer : oldest_) = &entry;
  newest_ = &entry;
}

void ImageCache::evictOldest() {
  Entry* entry = oldest_;
  unlink(*entry);
  total_ -= costOf(*entry->image);
  --count_;
  Entry** link = &*bucketOf(entry->key(), entry->format);
  while (*link != entry) link = &(*link)->nextInBucket;
  *link = entry->nextInBucket;
  Entry::destroy(entry);
}

void hnk_cancelSetImage(UIImageView& view) {
  auto& requests = pendingRequests();
  auto it = requests.find(&view);
  if (it == requests.end()) return;
  auto task = std::move(it->second.task);
  requests.erase(it);
  if (task) task->cancel();
}

namespace {

// The answer of request `id` for the view at `address`, when it is still the one that view waits for.
void pictureArrived(std::uint64_t id, const UIImageView* address, std::optional<Data> data,
                    const std::shared_ptr<const URLResponse>& response, std::optional<NSError> error) {
  auto& requests = pendingRequests();
  auto it = requests.find(address);
  if (it == requests.end() || it->second.id != id) return;  // cancelled or replaced
  PendingRequest request = std::move(it->second);
  requests.erase(it);
  auto target = request.view.lock();

  static const RequestOptions plain;
  const RequestOptions& options = request.options ? *request.options : plain;
  std::shared_ptr<UIImage> image;
  if (!error) {
    auto* http = dynamic_cast<const HTTPURLResponse*>(response.get());
    if (http && (http->statusCode() < 200 || http->statusCode() > 299)) {
      error = loadingError(ImageLoadingErrorStatusCodeNotOK,
                           "Status code " + std::to_string(http->statusCode()) + " from " + request.key, request.key);
    } else if (!(image = prepared(UIImage::imageWithData(data.value_or(Data{})), options.format))) {
      error = loadingError(ImageLoadingErrorInvalidData, "Failed to load image data from " + request.key, request.key);
    }
  }
  if (!image) {
    if (options.failure) options.failure(error);
    return;
  }
  ImageCache::shared().setImage(image, request.key, options.format.name);
  if (target) deliver(*target, image, options.success);
}

// The part of a request that needs no parsed address: an image cached under `key` is set at once,
// and a view already loading `key` keeps its download with the latest call's handlers. False when
// a download has to start.
bool servedWithoutDownload(UIImageView& view, const std::string& key, RequestOptions& options,
                           const std::shared_ptr<UIImage>& placeholder) {
  if (auto cached = ImageCache::shared().image(key, options.format.name)) {
    hnk_cancelSetImage(view);
    deliver(view, cached, options.success);
    return true;
  }
  if (placeholder) view.setImage(placeholder);
  auto& requests = pendingRequests();
  if (auto it = requests.find(&view); it != requests.end()) {
    auto& pending = it->second;
    // A table asks again for every row it reloads: the picture already on its way is the same one.
    if (pending.key == key && pending.formatName() == options.format.name && pending.view.lock().get() == &view) {
      pending.options = withOptions(std::move(options));
      return true;
    }
    hnk_cancelSetImage(view);
  }
  return false;
}

void startWaitingDownloads(const std::string& host);

void holdInFlightWhileWaiting() {
  auto& state = downloads();
  if (state.waiting == 0) {
    state.inFlight.reset();
  } else if (!state.inFlight) {
    state.inFlight = URLSession::holdTransferInFlight();
  }
}

// One download fewer on `host`: the next one waiting for it may start.
void leaveHost(const std::string& host) {
  auto& state = downloads();
  auto found = state.hosts.find(host);
  if (found == state.hosts.end()) return;
  --found->second.running;
  startWaitingDownloads(host);
}

void downloadEnded(std::uint64_t id) {
  auto& state = downloads();
  auto found = state.running.find(id);
  if (found == state.running.end()) return;
  const std::string host = std::move(found->second.host);
  state.running.erase(found);
  leaveHost(host);
}

void downloadMoved(unsigned long task, const URL& to) {
  auto& state = downloads();
  auto found = std::find_if(state.running.begin(), state.running.end(),
                            [task](const auto& entry) { return entry.second.task == task; });
  if (found == state.running.end()) return;
  std::string host = hostOf(to);
  if (host == found->second.host) return;
  ++state.hosts[host].running;
  std::swap(found->second.host, host);
  leaveHost(host);
}

// Requests cancelled or replaced while they waited are passed over.
void startWaitingDownloads(const std::string& host) {
  auto& state = downloads();
  auto queue = state.hosts.find(host);
  if (queue == state.hosts.end()) return;
  const auto limit =
      static_cast<std::size_t>(std::max(imageSession()->configuration().httpMaximumConnectionsPerHost, 1));
  auto& requests = pendingRequests();
  TimeInterval timeout = URLRequest().timeoutInterval;
  if (const TimeInterval own = imageSession()->configuration().timeoutIntervalForRequest; own > 0)
    timeout = std::min(timeout, own);
  const TimeInterval now = Date::now().timeIntervalSinceReferenceDate;
  std::vector<std::pair<WaitingPicture, URL>> timedOut;  // told once the queue is left alone
  while (queue->second.running < limit && !queue->second.waiting.empty()) {
    const WaitingPicture waiting = queue->second.waiting.front();
    const std::uint64_t id = waiting.id;
    const UIImageView* address = waiting.view;
    queue->second.waiting.pop_front();
    --state.waiting;
    auto it = requests.find(address);
    if (it == requests.end() || it->second.id != id) continue;
    const URL url = it->second.url ? *it->second.url : *URL::URLWithString(it->second.key);
    // What is left of its timeout once it waited its turn.
    const TimeInterval left = timeout - (now - waiting.since);
    if (left <= 0) {
      timedOut.emplace_back(waiting, url);
      continue;
    }
    auto task = imageSession()->dataTaskWithRequest(
        URLRequest(url, left), [id, address](std::optional<Data> data, std::shared_ptr<const URLResponse> response,
                                             std::optional<NSError> error) {
          downloadEnded(id);
          pictureArrived(id, address, std::move(data), response, std::move(error));
        });
    it->second.task = task;
    ++queue->second.running;
    state.running.emplace(id, RunningDownload{task->taskIdentifier(), host});
    task->resume();
  }
  if (queue->second.running == 0 && queue->second.waiting.empty()) state.hosts.erase(queue);
  holdInFlightWhileWaiting();
  for (const auto& [picture, url] : timedOut)
    pictureArrived(picture.id, picture.view, std::nullopt, nullptr, URLError(NSURLErrorTimedOut, url));
}

// Queues the download of `key` for `view`; `url` is the parsed address when the caller has it.
void startRequest(UIImageView& view, const std::string& key, const URL& parsed, std::optional<URL> url,
                  RequestOptions&& options) {
  const auto id = nextRequestId();
  pendingRequests()[&view] =
      PendingRequest{id, view.sharedAs<UIImageView>(), nullptr, key, std::move(url), withOptions(std::move(options))};
  const std::string host = hostOf(parsed);
  downloads().hosts[host].waiting.push_back({id, &view, Date::now().timeIntervalSinceReferenceDate});
  ++downloads().waiting;
  startWaitingDownloads(host);
}

}  // namespace

bool hnk_setImageFromURLString(UIImageView& view, const std::string& address) {
  RequestOptions options;
  if (servedWithoutDownload(view, address, options, nullptr)) return true;
  auto url = URL::URLWithString(address);
  if (!url) return false;
  if (url->absoluteString() == address) {
    // It parsed once, so it parses again when its turn comes.
    startRequest(view, address, *url, std::nullopt, std::move(options));
  } else if (!servedWithoutDownload(view, url->absoluteString(), options, nullptr)) {
    startRequest(view, url->absoluteString(), *url, url, std::move(options));
  }
  return true;
}

void hnk_setImageFromURL(UIImageView& view, const URL& url, std::shared_ptr<UIImage> placeholder,
                         std::optional<ImageFormat> format, ImageFailureHandler failure, ImageSuccessHandler success) {
  RequestOptions options{format.value_or(ImageFormat{}), std::move(failure), std::move(success)};
  const std::string& key = url.absoluteString();
  if (servedWithoutDownload(view, key, options, placeholder)) return;
  startRequest(view, key, url, url, std::move(options));
}

void hnk_setImage(UIImageView& view, const std::function<std::shared_ptr<UIImage>()>& fetch, const std::string& key,
                  std::shared_ptr<UIImage> placeholder, std::optional<ImageFormat> format,
                  ImageSuccessHandler success) {
  hnk_cancelSetImage(view);
  const ImageFormat fmt = format.value_or(ImageFormat{});
  auto image = ImageCache::shared().image(key, fmt.name);
  if (!image) {
    image = prepared(fetch ? fetch() : nullptr, fmt);
    ImageCache::shared().setImage(image, key, fmt.name);
  }
  if (image) {
    deliver(view, image, success);
  } else if (placeholder) {
    view.setImage(placeholder);
  }
}
