#include "model/model_url_builder.h"

#include <memory>
#include <mutex>
#include <utility>

#include "platform/foundation/fatal_error.h"

namespace {

std::mutex& builderMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<const ModelUrlBuilder::Builder>& installedBuilder() {
  static std::shared_ptr<const ModelUrlBuilder::Builder> builder;
  return builder;
}

std::shared_ptr<const ModelUrlBuilder::Builder> currentBuilder() {
  std::lock_guard lock(builderMutex());
  return installedBuilder();
}

}  // namespace

void ModelUrlBuilder::install(Builder builder) {
  auto next = builder ? std::make_shared<const Builder>(std::move(builder)) : nullptr;
  std::lock_guard lock(builderMutex());
  installedBuilder() = std::move(next);
}

bool ModelUrlBuilder::isInstalled() { return currentBuilder() != nullptr; }

std::string ModelUrlBuilder::buildUrl(const std::string& path) {
  // Called outside the lock: the builder may be slow or reinstall itself.
  auto builder = currentBuilder();
  if (!builder) fatalError("ModelUrlBuilder: no URL builder installed (the service locator installs it)");
  return (*builder)(path);
}

std::optional<std::string> ModelUrlBuilder::buildUrlIfPresent(const std::optional<std::string>& path) {
  if (!path) return std::nullopt;
  return buildUrl(*path);
}
