#include "platform/net/resume_data.h"

#include <nlohmann/json.hpp>

namespace net_detail {

namespace {

constexpr int kVersion = 1;

template <class T>
std::optional<T> member(const nlohmann::json& object, const char* key) {
  auto found = object.find(key);
  if (found == object.end()) return std::nullopt;
  if constexpr (std::is_same_v<T, std::string>) {
    if (found->is_string()) return found->get<std::string>();
  } else if constexpr (std::is_same_v<T, bool>) {
    if (found->is_boolean()) return found->get<bool>();
  } else if constexpr (std::is_integral_v<T>) {
    if (found->is_number_integer()) return found->get<T>();
  } else {
    if (found->is_number()) return found->get<T>();
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ResumeData::validator() const {
  if (entityTag && !entityTag->starts_with("W/")) return entityTag;
  return lastModified;
}

Data encodeResumeData(const ResumeData& resume) {
  nlohmann::json headers = nlohmann::json::array();
  for (const auto& [name, value] : resume.request.allHTTPHeaderFields) headers.push_back({name, value});
  nlohmann::json json = {
      {"version", kVersion},
      {"url", resume.request.url ? resume.request.url->absoluteString() : ""},
      {"method", resume.request.httpMethod},
      {"headers", std::move(headers)},
      {"timeout", resume.request.timeoutInterval},
      {"cookies", resume.request.httpShouldHandleCookies},
      {"file", resume.filePath},
      {"bytes", resume.bytesReceived},
  };
  if (resume.request.mainDocumentURL) json["mainDocumentURL"] = resume.request.mainDocumentURL->absoluteString();
  if (resume.entityTag) json["etag"] = *resume.entityTag;
  if (resume.lastModified) json["lastModified"] = *resume.lastModified;
  return Data::fromString(json.dump());
}

std::optional<ResumeData> decodeResumeData(const Data& data) {
  const auto json = nlohmann::json::parse(data.toString(), nullptr, false);
  if (!json.is_object() || member<int>(json, "version") != kVersion) return std::nullopt;
  const auto url = URL::URLWithString(member<std::string>(json, "url").value_or(""));
  const auto file = member<std::string>(json, "file");
  const auto bytes = member<std::int64_t>(json, "bytes");
  const auto headers = json.find("headers");
  if (!url || !file || file->empty() || !bytes || *bytes < 0 || headers == json.end() || !headers->is_array())
    return std::nullopt;
  ResumeData resume;
  resume.request = URLRequest(*url, member<double>(json, "timeout").value_or(60.0));
  resume.request.httpMethod = member<std::string>(json, "method").value_or("GET");
  for (const auto& field : *headers) {
    if (!field.is_array() || field.size() != 2 || !field[0].is_string() || !field[1].is_string()) return std::nullopt;
    resume.request.addValue(field[1].get<std::string>(), field[0].get<std::string>());
  }
  resume.request.httpShouldHandleCookies = member<bool>(json, "cookies").value_or(true);
  if (auto main = member<std::string>(json, "mainDocumentURL"))
    resume.request.mainDocumentURL = URL::URLWithString(*main);
  resume.filePath = *file;
  resume.bytesReceived = *bytes;
  resume.entityTag = member<std::string>(json, "etag");
  resume.lastModified = member<std::string>(json, "lastModified");
  return resume;
}

}  // namespace net_detail
