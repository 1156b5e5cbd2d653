#include "analytics/zai_tracker.h"

#include "analytics/zai.h"
#include "analytics/zai_fields.h"

ZAITracker::ZAITracker(std::string trackingId, std::weak_ptr<ZAI> analytics)
    : trackingId_(std::move(trackingId)), analytics_(std::move(analytics)) {
  fields_[kZAITrackingId] = trackingId_;
}

void ZAITracker::set(const std::string& parameterName, std::optional<std::string> value) {
  std::lock_guard lock(mutex_);
  if (value) {
    fields_[parameterName] = std::move(*value);
  } else {
    fields_.erase(parameterName);
  }
}

std::optional<std::string> ZAITracker::get(const std::string& parameterName) const {
  std::lock_guard lock(mutex_);
  auto it = fields_.find(parameterName);
  if (it == fields_.end()) return std::nullopt;
  return it->second;
}

void ZAITracker::send(const Dictionary& parameters) {
  Dictionary hit;
  {
    std::lock_guard lock(mutex_);
    hit = fields_;
  }
  for (const auto& [key, value] : parameters) hit[key] = value;
  if (auto analytics = analytics_.lock()) analytics->enqueueHit(std::move(hit));
}
