#include "platform/http/request.h"

#include "platform/foundation/run_loop.h"
#include "platform/http/http_error.h"

namespace {

// Runs `work` on the main thread: at once when already there, else posted.
void onMain(std::function<void()> work) {
  if (RunLoop::isMainThread()) {
    work();
  } else {
    RunLoop::main().post(std::move(work));
  }
}

const char* encodingName(StringEncoding encoding) { return encoding == StringEncoding::UTF8 ? "UTF-8" : "ISO-8859-1"; }

}  // namespace

std::shared_ptr<Request> Request::make(std::optional<URLRequest> request) {
  return std::shared_ptr<Request>(new Request(std::move(request)));
}

std::shared_ptr<const HTTPURLResponse> Request::response() const { return response_; }

void Request::addStep(std::function<void()> step) {
  onMain([self = shared_from_this(), step = std::move(step)]() mutable {
    self->steps_.push_back(std::move(step));
    if (self->completed_ && !self->drainScheduled_) {
      // Already answered: the step runs on a later turn, never inside the registering call.
      self->drainScheduled_ = true;
      RunLoop::main().post([self] {
        self->drainScheduled_ = false;
        self->drain();
      });
    }
  });
}

void Request::drain() {
  while (!steps_.empty()) {
    auto step = std::move(steps_.front());
    steps_.pop_front();
    step();
  }
}

void Request::didComplete(std::shared_ptr<const HTTPURLResponse> response, std::optional<Data> data,
                          std::optional<NSError> error) {
  if (completed_) return;
  completed_ = true;
  if (error) {
    error_ = std::move(error);
  } else {
    response_ = std::move(response);
    data_ = std::move(data);
  }
  drain();
}

std::shared_ptr<Request> Request::validate() {
  addStep([this] {
    if (error_ || !response_) return;
    const int status = response_->statusCode();
    if (status < 200 || status > 299) {
      error_ = httpError(HTTPErrorCode::StatusCodeValidationFailed,
                         "Response status code was unacceptable: " + std::to_string(status));
    }
  });
  return shared_from_this();
}

Result<std::string> Request::serializeString(std::optional<StringEncoding> encoding) const {
  if (error_) return Result<std::string>::failure(data_, *error_);
  if (!data_) {
    return Result<std::string>::failure(std::nullopt, httpError(HTTPErrorCode::StringSerializationFailed,
                                                                "String could not be serialized. Input data was nil."));
  }
  if (data_->empty()) return Result<std::string>::success("");
  if (!encoding) {
    const auto charset = response_ ? response_->textEncodingName() : std::nullopt;
    encoding = (charset ? encodingFromCharset(*charset) : std::nullopt).value_or(StringEncoding::ISOLatin1);
  }
  if (auto text = stringFromData(*data_, *encoding)) return Result<std::string>::success(std::move(*text));
  return Result<std::string>::failure(
      data_, httpError(HTTPErrorCode::StringSerializationFailed,
                       std::string("String could not be serialized with encoding: ") + encodingName(*encoding)));
}

std::shared_ptr<Request> Request::responseString(std::optional<StringEncoding> encoding, StringHandler handler) {
  addStep([this, encoding, handler = std::move(handler)] {
    const auto result = serializeString(encoding);
    // Text as long as the bytes is the same bytes (the one encoding that widens, Latin-1, did not
    // have to): the body need not stand twice while the handler reads it (a list reply can be tens
    // of megabytes). The steps after it get the bytes back.
    const bool setAside = result.isSuccess() && data_ && !data_->empty() && data_->size() == result.value()->size();
    if (setAside) data_.reset();
    handler(request_, response_, result);
    if (setAside) data_ = Data::fromString(*result.value());
  });
  return shared_from_this();
}

std::shared_ptr<Request> Request::response(std::shared_ptr<DispatchQueue> queue, DataHandler handler) {
  addStep([this, queue = std::move(queue), handler = std::move(handler)] {
    if (!queue || queue == DispatchQueue::main()) {
      handler(request_, response_, data_, error_);
      return;
    }
    queue->async([handler, request = request_, response = response_, data = data_, error = error_] {
      handler(request, response, data, error);
    });
  });
  return shared_from_this();
}
