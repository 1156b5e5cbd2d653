#pragma once

#include <functional>
#include <optional>
#include <string>

// How models turn a backend path into an absolute URL. Models sit below the services, so the
// service locator installs the backend API's buildUrl here when it is made.
class ModelUrlBuilder {
 public:
  using Builder = std::function<std::string(const std::string& path)>;

  // Replaces the builder; an empty function removes it.
  static void install(Builder builder);
  static bool isInstalled();
  // Stops the program when nothing is installed: no model can be built before the locator.
  static std::string buildUrl(const std::string& path);
  // Nothing for no path, without asking the builder.
  static std::optional<std::string> buildUrlIfPresent(const std::optional<std::string>& path);
};
