#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class ZAI;

// Sends hits for one tracking id. Fields set on the tracker go with every later hit. Thread-safe.
class ZAITracker {
 public:
  using Dictionary = std::map<std::string, std::string>;

  ZAITracker(std::string trackingId, std::weak_ptr<ZAI> analytics);

  const std::string& trackingId() const { return trackingId_; }

  // An absent value removes the field.
  void set(const std::string& parameterName, std::optional<std::string> value);
  std::optional<std::string> get(const std::string& parameterName) const;

  // Queues one hit made of the tracker's fields and `parameters` (which win on a clash) and
  // returns at once; the analytics component stores and dispatches it on its own queue.
  void send(const Dictionary& parameters);

 private:
  const std::string trackingId_;
  const std::weak_ptr<ZAI> analytics_;
  mutable std::mutex mutex_;
  Dictionary fields_;
};
