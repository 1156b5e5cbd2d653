#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "backend/error_handler.h"
#include "model/mappable_array.h"
#include "platform/foundation/run_loop.h"

// The models of a list reply in reply order. An item that gives no model is left out: a partial
// model would show wrong data, and the rest of the list is still good. The reply is used up, and
// gone before the models reach anybody: a model may take over its record's texts.
template <class Model, class Record>
std::vector<std::shared_ptr<Model>> modelsFromReply(MappableArray<Record> reply) {
  std::vector<std::shared_ptr<Model>> models;
  models.reserve(reply.size());
  for (Record& record : reply.array) {
    if (auto model = Model::init(std::move(record))) models.push_back(std::move(model));
  }
  return models;
}

// A failure found without a backend error (an empty reply, a record without a needed value): the
// network message, as for a reply that could not be read.
inline void failWithNetworkMessage(const std::function<void(const std::string&)>& failure) {
  ErrorHandler::handleError(std::nullopt, failure);
}

// The same for a failure found before anything was sent: it still comes on the main run loop,
// never inside the call.
inline void postNetworkFailure(std::function<void(const std::string&)> failure) {
  RunLoop::main().post([failure = std::move(failure)] { failWithNetworkMessage(failure); });
}
