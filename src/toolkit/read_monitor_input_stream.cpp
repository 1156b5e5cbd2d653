#include "toolkit/read_monitor_input_stream.h"

#include "platform/foundation/class_registry.h"
#include "platform/foundation/run_loop.h"

namespace {

// Found by name by the fetch log, which wraps uploaded body streams when this class is present.
const bool registered = [] {
  ClassRegistry::shared().registerClass<ZSDK_ZTKReadMonitorInputStream, std::shared_ptr<InputStream>>(
      "ZSDK_ZTKReadMonitorInputStream", [](std::shared_ptr<InputStream> input) {
        return ZSDK_ZTKReadMonitorInputStream::inputStreamWithStream(std::move(input));
      });
  return true;
}();

}  // namespace

std::shared_ptr<ZSDK_ZTKReadMonitorInputStream> ZSDK_ZTKReadMonitorInputStream::inputStreamWithStream(
    std::shared_ptr<InputStream> input) {
  return std::make_shared<ZSDK_ZTKReadMonitorInputStream>(std::move(input));
}

ZSDK_ZTKReadMonitorInputStream::ZSDK_ZTKReadMonitorInputStream(std::shared_ptr<InputStream> input)
    : inputStream_(std::move(input)), thread_(std::this_thread::get_id()) {
  (void)registered;
}

long ZSDK_ZTKReadMonitorInputStream::read(std::uint8_t* buffer, std::size_t maxLength) {
  const long result = inputStream_ ? inputStream_->read(buffer, maxLength) : 0;
  if (result < 1 || !readDelegate() || !readSelector()) return result;
  if (std::this_thread::get_id() == thread_) {
    invokeReadSelectorWithBuffer(buffer, result);
  } else {
    auto self = std::static_pointer_cast<ZSDK_ZTKReadMonitorInputStream>(shared_from_this());
    RunLoop::main().post([self, copy = Data(std::vector<std::uint8_t>(buffer, buffer + result))] {
      self->invokeReadSelectorWithBuffer(copy.data(), static_cast<std::int64_t>(copy.size()));
    });
  }
  return result;
}

void ZSDK_ZTKReadMonitorInputStream::open() {
  if (inputStream_) inputStream_->open();
}
void ZSDK_ZTKReadMonitorInputStream::close() {
  if (inputStream_) inputStream_->close();
}
bool ZSDK_ZTKReadMonitorInputStream::hasBytesAvailable() const {
  return inputStream_ && inputStream_->hasBytesAvailable();
}
StreamStatus ZSDK_ZTKReadMonitorInputStream::streamStatus() const {
  return inputStream_ ? inputStream_->streamStatus() : StreamStatus::NotOpen;
}
std::optional<NSError> ZSDK_ZTKReadMonitorInputStream::streamError() const {
  return inputStream_ ? inputStream_->streamError() : std::nullopt;
}
std::optional<Value> ZSDK_ZTKReadMonitorInputStream::propertyForKey(const std::string& key) const {
  return inputStream_ ? inputStream_->propertyForKey(key) : std::nullopt;
}
bool ZSDK_ZTKReadMonitorInputStream::setProperty(const Value& property, const std::string& key) {
  return inputStream_ && inputStream_->setProperty(property, key);
}
std::shared_ptr<StreamDelegate> ZSDK_ZTKReadMonitorInputStream::delegate() const {
  return inputStream_ ? inputStream_->delegate() : nullptr;
}
void ZSDK_ZTKReadMonitorInputStream::setDelegate(std::shared_ptr<StreamDelegate> delegate) {
  if (inputStream_) inputStream_->setDelegate(std::move(delegate));
}

std::shared_ptr<void> ZSDK_ZTKReadMonitorInputStream::readDelegate() const {
  std::lock_guard lock(mutex_);
  return readDelegate_.lock();
}
void ZSDK_ZTKReadMonitorInputStream::setReadDelegate(std::shared_ptr<void> delegate) {
  std::lock_guard lock(mutex_);
  readDelegate_ = delegate;
}
ZSDK_ZTKReadMonitorInputStream::ReadSelector ZSDK_ZTKReadMonitorInputStream::readSelector() const {
  std::lock_guard lock(mutex_);
  return readSelector_;
}
void ZSDK_ZTKReadMonitorInputStream::setReadSelector(ReadSelector selector) {
  std::lock_guard lock(mutex_);
  readSelector_ = std::move(selector);
}
std::optional<std::vector<std::string>> ZSDK_ZTKReadMonitorInputStream::runLoopModes() const {
  std::lock_guard lock(mutex_);
  return runLoopModes_;
}
void ZSDK_ZTKReadMonitorInputStream::setRunLoopModes(std::optional<std::vector<std::string>> modes) {
  std::lock_guard lock(mutex_);
  runLoopModes_ = std::move(modes);
}

void ZSDK_ZTKReadMonitorInputStream::invokeReadSelectorWithBuffer(const std::uint8_t* buffer, std::int64_t length) {
  // Held for the call: a delegate that went away in the meantime gets nothing.
  const auto delegate = readDelegate();
  const auto selector = readSelector();
  if (delegate && selector) selector(*this, buffer, length);
}
