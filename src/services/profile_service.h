#pragma once

#include <functional>
#include <memory>
#include <string>

#include "backend/backend_api.h"
#include "model/user.h"
#include "platform/foundation/data.h"

// The signed-in user's profile and picture. `user` is the one copy the profile screens show; the
// sign-in operations write it too, and logout leaves it. Main thread only.
class ProfileService : public std::enable_shared_from_this<ProfileService> {
 public:
  using UserSuccess = std::function<void(const std::shared_ptr<User>& user)>;
  using Failure = std::function<void(const std::string& message)>;

  explicit ProfileService(std::shared_ptr<BackendApi> backendApi) : backendApi_(std::move(backendApi)) {}
  virtual ~ProfileService() = default;

  const std::shared_ptr<BackendApi>& backendApi() const { return backendApi_; }
  void setBackendApi(std::shared_ptr<BackendApi> backendApi) { backendApi_ = std::move(backendApi); }
  const std::shared_ptr<User>& user() const { return user_; }
  void setUser(std::shared_ptr<User> user) { user_ = std::move(user); }

  // Reloads the profile; the new user is stored before success gets it. A failure, or a profile
  // without a needed value, keeps the previous user.
  virtual void getUserProfile(UserSuccess success, Failure failure);
  // `pictureFormat` is the image type word ("png", "jpeg"). An image that cannot be put into the
  // form reaches `failure` with the transfer layer's own text.
  virtual void uploadProfilePicture(Data imageData, std::string pictureFormat, std::function<void()> success,
                                    Failure failure);

 private:
  std::shared_ptr<BackendApi> backendApi_;
  std::shared_ptr<User> user_;
};
