#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backend/backend_api.h"
#include "model/news.h"

// The news list. Answers once, on the main run loop. Main thread only.
class NewsService {
 public:
  using Success = std::function<void(std::vector<std::shared_ptr<News>> news)>;
  using Failure = std::function<void(const std::string& message)>;

  explicit NewsService(std::shared_ptr<BackendApi> backendApi) : backendApi_(std::move(backendApi)) {}
  virtual ~NewsService() = default;

  const std::shared_ptr<BackendApi>& backendApi() const { return backendApi_; }
  void setBackendApi(std::shared_ptr<BackendApi> backendApi) { backendApi_ = std::move(backendApi); }

  // All news in reply order.
  virtual void getNews(Success success, Failure failure);

 private:
  std::shared_ptr<BackendApi> backendApi_;
};
