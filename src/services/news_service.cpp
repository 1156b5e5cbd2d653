#include "services/news_service.h"

#include "services/reply_models.h"

void NewsService::getNews(Success success, Failure failure) {
  backendApi_->getNews(
      std::nullopt, std::nullopt,
      [success = std::move(success), failure = std::move(failure)](std::optional<MappableArray<NewsResponse>> reply,
                                                                   std::optional<TransferError<ErrorResponse>> error) {
        if (!reply) return ErrorHandler::handleError(error, failure);
        success(modelsFromReply<News>(std::move(*reply)));
      });
}
