#include "analytics/zai_dictionary_builder.h"

#include "analytics/zai_fields.h"

std::shared_ptr<ZAIDictionaryBuilder> ZAIDictionaryBuilder::createScreenView() {
  auto builder = std::make_shared<ZAIDictionaryBuilder>();
  builder->set("screenview", kZAIHitType);
  return builder;
}

void ZAIDictionaryBuilder::set(std::optional<std::string> value, const std::string& key) {
  if (value) {
    fields_[key] = std::move(*value);
  } else {
    fields_.erase(key);
  }
}

std::optional<std::string> ZAIDictionaryBuilder::get(const std::string& key) const {
  auto it = fields_.find(key);
  if (it == fields_.end()) return std::nullopt;
  return it->second;
}
