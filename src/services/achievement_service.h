#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backend/backend_api.h"
#include "model/achievement.h"

// The signed-in student's achievements. Answers once, on the main run loop. Main thread only.
class AchievementService {
 public:
  using Success = std::function<void(const std::vector<std::shared_ptr<Achievement>>& achievements)>;
  using Failure = std::function<void(const std::string& message)>;

  explicit AchievementService(std::shared_ptr<BackendApi> backendApi) : backendApi_(std::move(backendApi)) {}
  virtual ~AchievementService() = default;

  const std::shared_ptr<BackendApi>& backendApi() const { return backendApi_; }
  void setBackendApi(std::shared_ptr<BackendApi> backendApi) { backendApi_ = std::move(backendApi); }

  // Every achievement in reply order.
  virtual void getStudentAchievements(Success success, Failure failure);

 private:
  std::shared_ptr<BackendApi> backendApi_;
};
