#include "api.h"

#include <fmt/format.h>

#include <map>
#include <string_view>

namespace sample_api {

void badRequest(const std::string& message) { throw ApiError{400, kBadRequest, message}; }

std::optional<Id> optId(const json& object, const char* key) {
  if (!object.contains(key) || object[key].is_null()) return std::nullopt;
  if (!object[key].is_number_integer()) badRequest(fmt::format("\"{}\" must be a whole number", key));
  return object[key].get<Id>();
}

std::optional<std::string> optText(const json& object, const char* key) {
  if (!object.contains(key) || object[key].is_null()) return std::nullopt;
  if (!object[key].is_string()) badRequest(fmt::format("\"{}\" must be a text", key));
  return object[key].get<std::string>();
}

std::optional<bool> optFlag(const json& object, const char* key) {
  if (!object.contains(key) || object[key].is_null()) return std::nullopt;
  if (!object[key].is_boolean()) badRequest(fmt::format("\"{}\" must be true or false", key));
  return object[key].get<bool>();
}

std::optional<double> optNumber(const json& object, const char* key) {
  if (!object.contains(key) || object[key].is_null()) return std::nullopt;
  if (!object[key].is_number()) badRequest(fmt::format("\"{}\" must be a number", key));
  return object[key].get<double>();
}

void missing(const char* key) {
  static const std::map<std::string_view, const char*> kSentences = {
      {"userName", "Please enter your e-mail address."},
      {"firstName", "Please enter your first name."},
      {"lastName", "Please enter your last name."},
      {"password", "Please enter your password."},
      {"confirmPassword", "Please confirm your password."},
      {"oldPassword", "Please enter your current password."},
      {"newPassword", "Please enter your new password."},
      {"token", "The sign-in did not come through. Please sign in again."},
      {"provider", "Please sign in with Facebook or Zedodo."},
  };
  const auto found = kSentences.find(key);
  badRequest(found != kSentences.end() ? found->second : fmt::format("The call lacks \"{}\".", key));
}

std::string requiredText(const json& object, const char* key) {
  std::string text = required(optText(object, key), key);
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) missing(key);
  return text;
}

const json& object(const Call& call) {
  if (!call.body.is_object()) badRequest("The body must be a JSON object");
  return call.body;
}

std::vector<Id> idList(const json& value, const char* what) {
  if (!value.is_array()) badRequest(fmt::format("{} must be a JSON array of whole numbers", what));
  std::vector<Id> ids;
  for (const auto& item : value) {
    if (!item.is_number_integer()) badRequest(fmt::format("{} must be a JSON array of whole numbers", what));
    ids.push_back(item.get<Id>());
  }
  return ids;
}

json page(json list, const json& request) {
  const auto size = optId(request, "pageSize");
  const Id number = optId(request, "pageNumber").value_or(1);
  if (!size) return list;
  if (*size < 1 || number < 1) badRequest("Pages count from 1 and hold at least one item");
  const Id count = Id(list.size());
  // Compared before multiplying: page numbers and sizes near the limits of Id must not overflow.
  const Id first = number - 1 > count / *size ? count : (number - 1) * *size;
  json slice = json::array();
  for (Id i = first; i < count && i - first < *size; ++i) slice.push_back(list[i]);
  return slice;
}

std::string linkKey(Backend& backend, const std::string& provider, const std::string& token) {
  if (provider != "zedodo") return token;
  auto subject = backend.zedodo.subjectOfAccessToken(token);
  if (!subject) throw ApiError{401, kUnauthorized, "The Zedodo sign-in is not valid; sign in again"};
  return "subject:" + *subject;
}

}  // namespace sample_api
