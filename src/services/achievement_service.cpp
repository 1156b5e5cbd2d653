#include "services/achievement_service.h"

#include "services/reply_models.h"

void AchievementService::getStudentAchievements(Success success, Failure failure) {
  backendApi_->getStudentAchievements(
      std::nullopt, std::nullopt, std::nullopt,
      [success = std::move(success), failure = std::move(failure)](
          std::optional<MappableArray<AchievementResponse>> reply, std::optional<TransferError<ErrorResponse>> error) {
        if (!reply) return ErrorHandler::handleError(error, failure);
        success(modelsFromReply<Achievement>(std::move(*reply)));
      });
}
