#pragma once

#include <memory>
#include <optional>
#include <string>

class UIViewController;

// A transition from one scene to another, handed to prepareForSegue before the destination
// appears.
class UIStoryboardSegue {
 public:
  UIStoryboardSegue(std::optional<std::string> identifier, std::shared_ptr<UIViewController> source,
                    std::shared_ptr<UIViewController> destination)
      : identifier_(std::move(identifier)), source_(std::move(source)), destination_(std::move(destination)) {}

  const std::optional<std::string>& identifier() const { return identifier_; }
  const std::shared_ptr<UIViewController>& sourceViewController() const { return source_; }
  const std::shared_ptr<UIViewController>& destinationViewController() const { return destination_; }

 private:
  std::optional<std::string> identifier_;
  std::shared_ptr<UIViewController> source_;
  std::shared_ptr<UIViewController> destination_;
};
