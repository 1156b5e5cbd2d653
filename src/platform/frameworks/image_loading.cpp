#include "platform/frameworks/image_loading.h"

#include <cstdint>

#include "platform/foundation/dispatch.h"
#include "platform/net/url_session.h"

namespace {

struct PendingRequest {
  std::uint64_t id = 0;
  std::weak_ptr<UIImageView> view;
  std::shared_ptr<URLSessionDataTask> task;
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

std::shared_ptr<URLSession> imageSession() {
  // Never destroyed: answers may still arrive while the process exits.
  static auto* session = new std::shared_ptr<URLSession>([] {
    auto configuration = URLSessionConfiguration::defaultSessionConfiguration();
    // A picture address can come from anyone: a body past this is no picture worth the memory.
    configuration.maximumResponseBodySize = kMaxPictureBytes;
    return URLSession::sessionWithConfiguration(configuration, nullptr, DispatchQueue::main());
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

NSError loadingError(long code, const std::string& description, const URL& url) {
  return NSError(
      ImageLoadingErrorDomain, code,
      {{NSLocalizedDescriptionKey, description}, {NSURLErrorFailingURLStringErrorKey, url.absoluteString()}});
}

}  // namespace

ImageCache& ImageCache::shared() {
  static auto* cache = new ImageCache();
  return *cache;
}

ImageCache::ImageCache(std::size_t capacityBytes) : capacity_(capacityBytes) {}

std::shared_ptr<UIImage> ImageCache::image(const std::string& key, const std::string& formatName) {
  auto it = index_.find(formatName + '\n' + key);
  if (it == index_.end()) return nullptr;
  entries_.splice(entries_.begin(), entries_, it->second);
  return it->second->image;
}

void ImageCache::setImage(std::shared_ptr<UIImage> image, const std::string& key, const std::string& formatName) {
  if (!image) return;
  std::string id = formatName + '\n' + key;
  if (auto it = index_.find(id); it != index_.end()) {
    total_ -= it->second->cost;
    entries_.erase(it->second);
    index_.erase(it);
  }
  // Images without bytes still cost something, so their number stays bounded too.
  std::size_t cost = std::max<std::size_t>(image->data() ? image->data()->size() : 0, 1024);
  entries_.push_front({id, std::move(image), cost});
  index_[id] = entries_.begin();
  total_ += cost;
  while (total_ > capacity_ && entries_.size() > 1) {
    total_ -= entries_.back().cost;
    index_.erase(entries_.back().id);
    entries_.pop_back();
  }
}

void ImageCache::removeAll() {
  entries_.clear();
  index_.clear();
  total_ = 0;
}

void hnk_cancelSetImage(UIImageView& view) {
  auto& requests = pendingRequests();
  auto it = requests.find(&view);
  if (it == requests.end()) return;
  auto task = std::move(it->second.task);
  requests.erase(it);
  if (task) task->cancel();
}

void hnk_setImageFromURL(UIImageView& view, const URL& url, std::shared_ptr<UIImage> placeholder,
                         std::optional<ImageFormat> format, ImageFailureHandler failure, ImageSuccessHandler success) {
  hnk_cancelSetImage(view);
  const ImageFormat fmt = format.value_or(ImageFormat{});
  const std::string key = url.absoluteString();
  if (auto cached = ImageCache::shared().image(key, fmt.name)) return deliver(view, cached, success);
  if (placeholder) view.setImage(placeholder);

  const auto id = nextRequestId();
  const UIImageView* address = &view;
  auto task = imageSession()->dataTaskWithRequest(
      URLRequest(url),
      [id, address, url, key, fmt, failure = std::move(failure), success = std::move(success)](
          std::optional<Data> data, std::shared_ptr<const URLResponse> response, std::optional<NSError> error) {
        auto& requests = pendingRequests();
        auto it = requests.find(address);
        if (it == requests.end() || it->second.id != id) return;  // cancelled or replaced
        auto target = it->second.view.lock();
        requests.erase(it);

        std::shared_ptr<UIImage> image;
        if (!error) {
          auto* http = dynamic_cast<const HTTPURLResponse*>(response.get());
          if (http && (http->statusCode() < 200 || http->statusCode() > 299)) {
            error = loadingError(ImageLoadingErrorStatusCodeNotOK,
                                 "Status code " + std::to_string(http->statusCode()) + " from " + key, url);
          } else if (!(image = prepared(UIImage::imageWithData(data.value_or(Data{})), fmt))) {
            error = loadingError(ImageLoadingErrorInvalidData, "Failed to load image data from " + key, url);
          }
        }
        if (!image) {
          if (failure) failure(error);
          return;
        }
        ImageCache::shared().setImage(image, key, fmt.name);
        if (target) deliver(*target, image, success);
      });
  pendingRequests()[address] = {id, view.sharedAs<UIImageView>(), task};
  task->resume();
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
