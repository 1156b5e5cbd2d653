#pragma once

// What the handlers of the backend API share: the call they answer, typed reads of its JSON and
// the error that ends it. Internal to the sample backend.
#include <httplib.h>

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "catalog.h"
#include "store.h"
#include "zedodo_provider.h"

namespace sample_api {

enum ErrorCode {
  kBadRequest = 1,
  kUnauthorized = 2,
  kWrongCredentials = 3,
  kExists = 4,
  kNotFound = 5,
  kMustRegister = 6,
  kInternal = 7,
  kBusy = 8
};

// Ends a call with a status and the backend's error body.
struct ApiError {
  int status;
  int code;
  std::string message;
};

[[noreturn]] void badRequest(const std::string& message);

struct Call {
  const httplib::Request& request;
  json body;
  Id accountId = 0;
  std::string mediaBase;  // absolute base URL, as the client reached us
};

// What the handlers work on.
struct Backend {
  Store& store;
  Catalog& catalog;
  ZedodoProvider& zedodo;
};

// A list answer that may be long, made as it goes out: each call gives its next element, nothing
// past the last.
using ListSource = std::function<std::optional<json>()>;

// One call of the API: "METHOD path" below the base path. A handler's null answer is an empty body.
// A call whose answer may grow with what the account holds has a `list` in place of a handler.
struct Route {
  const char* method;
  const char* path;
  bool authorized;
  json (*handler)(Backend&, Call&);
  ListSource (*list)(Backend&, Call&) = nullptr;
};

std::span<const Route> accountRoutes();
std::span<const Route> contentRoutes();
std::span<const Route> resultRoutes();

// Typed reads of a request object: an absent or null key gives nothing, a key of another type is
// a bad request.
std::optional<Id> optId(const json& object, const char* key);
std::optional<std::string> optText(const json& object, const char* key);
std::optional<bool> optFlag(const json& object, const char* key);
std::optional<double> optNumber(const json& object, const char* key);

// The refusal of a call that lacks `key`, or has it blank: for what a user types, a sentence the
// client's alert can show as it is.
[[noreturn]] void missing(const char* key);

template <class T>
T required(std::optional<T> value, const char* key) {
  if (!value) missing(key);
  return std::move(*value);
}

// A text with more than blanks in it.
std::string requiredText(const json& object, const char* key);
const json& object(const Call& call);
std::vector<Id> idList(const json& value, const char* what);
// The page of `list` that the request's pageSize and pageNumber ask for (all of it without a size).
json page(json list, const json& request);

// What an account is linked to: a Facebook token itself; for Zedodo, whose access tokens come
// and go, the person the token belongs to while it is valid.
std::string linkKey(Backend& backend, const std::string& provider, const std::string& token);

}  // namespace sample_api
