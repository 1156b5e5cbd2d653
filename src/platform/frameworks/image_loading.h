#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/ns_error.h"
#include "platform/foundation/url.h"
#include "platform/ui/ui_image.h"
#include "platform/ui/ui_image_view.h"

// A named preparation of images; the cache keeps each image once per format.
struct ImageFormat {
  std::string name = "original";
  // Nothing keeps the image as fetched.
  std::function<std::shared_ptr<UIImage>(const std::shared_ptr<UIImage>&)> transform;
};

inline constexpr const char* ImageLoadingErrorDomain = "io.imageloading";
enum ImageLoadingErrorCode : long {
  ImageLoadingErrorStatusCodeNotOK = -500,
  ImageLoadingErrorInvalidData = -400,
};

// The image loading framework's memory cache: least recently used images go first once the
// images' bytes pass the capacity. Main thread only.
class ImageCache {
 public:
  static ImageCache& shared();
  explicit ImageCache(std::size_t capacityBytes = 32u << 20);
  ImageCache(const ImageCache&) = delete;
  ImageCache& operator=(const ImageCache&) = delete;
  ~ImageCache();

  std::shared_ptr<UIImage> image(const std::string& key, const std::string& formatName = "original");
  void setImage(std::shared_ptr<UIImage> image, const std::string& key, const std::string& formatName = "original");
  void removeAll();
  std::size_t count() const { return count_; }

 private:
  // Thousands of pictures: each is one block holding the image, its links and its key.
  struct Entry;
  Entry* find(std::string_view key, std::uint32_t format) const;
  std::vector<Entry*>::iterator bucketOf(std::string_view key, std::uint32_t format);
  void insert(Entry& entry);
  void unlink(Entry& entry);
  void pushNewest(Entry& entry);
  void evictOldest();

  std::size_t capacity_;
  std::size_t total_ = 0;
  std::size_t count_ = 0;
  std::vector<std::string> formats_;  // an entry's format is its index here
  std::vector<Entry*> buckets_;       // chains by hash; a power of two, two entries a bucket at most on average
  Entry* newest_ = nullptr;
  Entry* oldest_ = nullptr;
};

using ImageFailureHandler = std::function<void(const std::optional<NSError>& error)>;
using ImageSuccessHandler = std::function<void(const std::shared_ptr<UIImage>& image)>;

// The image view extension of the framework. Each call replaces the view's earlier request. An
// image in the cache is set at once; otherwise the placeholder (when given) shows while the image
// is fetched over HTTP, decoded and cached, then set on the view if the view still wants it. With a
// success handler the handler gets the image instead of the view. Main thread only.
void hnk_setImageFromURL(UIImageView& view, const URL& url, std::shared_ptr<UIImage> placeholder = nullptr,
                         std::optional<ImageFormat> format = std::nullopt, ImageFailureHandler failure = {},
                         ImageSuccessHandler success = {});
// The same without a placeholder, format or handlers, for an address given as text: one the cache
// holds or the view already loads is not parsed again (a table sets every row's picture on each
// reload). False when the text is no URL; the view's earlier request is forgotten then.
bool hnk_setImageFromURLString(UIImageView& view, const std::string& address);
// An image made by `fetch` (called at once, when the cache has none under `key`).
void hnk_setImage(UIImageView& view, const std::function<std::shared_ptr<UIImage>()>& fetch, const std::string& key,
                  std::shared_ptr<UIImage> placeholder = nullptr, std::optional<ImageFormat> format = std::nullopt,
                  ImageSuccessHandler success = {});
// Forgets the view's pending request; its answer will not reach the view.
void hnk_cancelSetImage(UIImageView& view);
