#pragma once

#include <optional>
#include <utility>

#include "platform/foundation/data.h"
#include "platform/foundation/ns_error.h"

// The outcome of serializing an answer: a success with its value, or a failure with an error and
// the body bytes that came with it (nothing when no answer arrived).
template <class Value>
class Result {
 public:
  static Result success(Value value) {
    Result r;
    r.value_ = std::move(value);
    return r;
  }
  static Result failure(std::optional<Data> data, NSError error) {
    Result r;
    r.data_ = std::move(data);
    r.error_ = std::move(error);
    return r;
  }

  bool isSuccess() const { return value_.has_value(); }
  bool isFailure() const { return !isSuccess(); }
  const std::optional<Value>& value() const { return value_; }
  const std::optional<Data>& data() const { return data_; }
  const std::optional<NSError>& error() const { return error_; }

 private:
  Result() = default;
  std::optional<Value> value_;
  std::optional<Data> data_;
  std::optional<NSError> error_;
};
