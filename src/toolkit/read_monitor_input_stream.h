#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/data.h"
#include "platform/net/input_stream.h"

// Passes every stream operation to an inner stream and reports each non-empty read to a read
// delegate, on the thread that created the wrapper: at once when that thread reads, otherwise
// queued with a copy of the bytes. Only the main thread runs a loop that can take queued
// reports, so create the wrapper on the main thread; reports queued for any other creator go to
// the main run loop as well.
class ZSDK_ZTKReadMonitorInputStream : public InputStream {
 public:
  // The read selector: (the wrapper, the bytes read, their count).
  using ReadSelector =
      std::function<void(ZSDK_ZTKReadMonitorInputStream& stream, const std::uint8_t* buffer, std::int64_t length)>;

  static std::shared_ptr<ZSDK_ZTKReadMonitorInputStream> inputStreamWithStream(std::shared_ptr<InputStream> input);
  explicit ZSDK_ZTKReadMonitorInputStream(std::shared_ptr<InputStream> input = nullptr);

  long read(std::uint8_t* buffer, std::size_t maxLength) override;
  void open() override;
  void close() override;
  bool hasBytesAvailable() const override;
  StreamStatus streamStatus() const override;
  std::optional<NSError> streamError() const override;
  std::optional<Value> propertyForKey(const std::string& key) const override;
  bool setProperty(const Value& property, const std::string& key) override;
  std::shared_ptr<StreamDelegate> delegate() const override;
  void setDelegate(std::shared_ptr<StreamDelegate> delegate) override;

  const std::shared_ptr<InputStream>& inputStream() const { return inputStream_; }

  std::shared_ptr<void> readDelegate() const;
  void setReadDelegate(std::shared_ptr<void> delegate);
  ReadSelector readSelector() const;
  void setReadSelector(ReadSelector selector);
  // Kept for callers that set them; the run loop here has a single mode.
  std::optional<std::vector<std::string>> runLoopModes() const;
  void setRunLoopModes(std::optional<std::vector<std::string>> modes);

  void invokeReadSelectorWithBuffer(const std::uint8_t* buffer, std::int64_t length);

 private:
  std::shared_ptr<InputStream> inputStream_;
  std::thread::id thread_;
  // Delegate and selector may be set on the creating thread while another thread reads.
  mutable std::mutex mutex_;
  std::weak_ptr<void> readDelegate_;
  ReadSelector readSelector_;
  std::optional<std::vector<std::string>> runLoopModes_;
};
