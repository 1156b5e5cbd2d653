#include "platform/net/http_header_fields.h"

#include "platform/foundation/ascii.h"

#include <algorithm>
#include <cctype>

HTTPHeaderFields::HTTPHeaderFields(std::initializer_list<Field> fields) {
  for (const auto& f : fields) setValue(f.second, f.first);
}

bool HTTPHeaderFields::namesEqual(std::string_view a, std::string_view b) { return asciiEqualIgnoringCase(a, b); }

const std::string* HTTPHeaderFields::find(std::string_view name) const {
  for (const auto& f : fields_)
    if (namesEqual(f.first, name)) return &f.second;
  return nullptr;
}

std::optional<std::string> HTTPHeaderFields::valueForHTTPHeaderField(std::string_view name) const {
  const std::string* value = find(name);
  return value ? std::optional<std::string>(*value) : std::nullopt;
}

void HTTPHeaderFields::setValue(std::optional<std::string> value, std::string_view name) {
  auto it = std::find_if(fields_.begin(), fields_.end(), [&](const Field& f) { return namesEqual(f.first, name); });
  if (it == fields_.end()) {
    if (value) fields_.emplace_back(std::string(name), std::move(*value));
    return;
  }
  if (value) {
    it->second = std::move(*value);
    ++it;
  }
  fields_.erase(std::remove_if(it, fields_.end(), [&](const Field& f) { return namesEqual(f.first, name); }),
                fields_.end());
}

std::size_t HTTPHeaderFields::addValue(std::string_view value, std::string_view name) {
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (namesEqual(fields_[i].first, name)) {
      fields_[i].second.append(", ").append(value);
      return i;
    }
  }
  fields_.emplace_back(std::string(name), std::string(value));
  return fields_.size() - 1;
}

bool HTTPHeaderFields::contains(std::string_view name) const { return find(name) != nullptr; }
