#include "services/profile_service.h"

#include "services/reply_models.h"

void ProfileService::getUserProfile(UserSuccess success, Failure failure) {
  backendApi_->getUserProfile(
      [weak = weak_from_this(), success = std::move(success), failure = std::move(failure)](
          std::optional<UserProfileResponse> reply, std::optional<TransferError<ErrorResponse>> error) {
        if (!reply) return ErrorHandler::handleError(error, failure);
        auto user = User::init(*reply);
        if (!user) return failWithNetworkMessage(failure);
        if (auto self = weak.lock()) self->user_ = user;
        success(user);
      });
}

void ProfileService::uploadProfilePicture(Data imageData, std::string pictureFormat, std::function<void()> success,
                                          Failure failure) {
  backendApi_->uploadProfilePicture(
      std::move(imageData), std::move(pictureFormat), std::move(success),
      [failure](std::optional<TransferError<ErrorResponse>> error) { ErrorHandler::handleError(error, failure); },
      [failure](std::string text) { failure(text); });
}
