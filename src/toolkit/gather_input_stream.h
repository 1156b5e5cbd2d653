#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/foundation/data.h"
#include "platform/net/input_stream.h"

// Reads an ordered list of blocks as one continuous stream, with seeking through the file-offset
// property. Used by one thread at a time.
class ZSDK_ZTKGatherInputStream : public InputStream, public StreamDelegate {
 public:
  using DataArray = std::vector<std::shared_ptr<const Data>>;

  static std::shared_ptr<ZSDK_ZTKGatherInputStream> streamWithArray(DataArray dataArray);
  explicit ZSDK_ZTKGatherInputStream(DataArray dataArray);

  void open() override;
  void close() override;
  long read(std::uint8_t* buffer, std::size_t maxLength) override;
  bool getBuffer(std::uint8_t** buffer, std::size_t* length) const;
  bool hasBytesAvailable() const override { return true; }
  StreamStatus streamStatus() const override { return streamStatus_; }

  std::optional<Value> propertyForKey(const std::string& key) const override;
  bool setProperty(const Value& property, const std::string& key) override;

  std::int64_t absoluteOffset() const;
  // Negative offsets seek to 0; offsets past the end leave the stream at its end.
  void setAbsoluteOffset(std::int64_t absoluteOffset);

  // There is no run-loop scheduling: reads never block.
  void scheduleInRunLoop() {}
  void removeFromRunLoop() {}

  // The stream itself when no delegate was set.
  std::shared_ptr<StreamDelegate> delegate() const override;
  void setDelegate(std::shared_ptr<StreamDelegate> delegate) override;
  void stream(InputStream& aStream, StreamEvent eventCode) override;

 private:
  DataArray dataArray_;
  std::size_t arrayIndex_ = 0;
  std::int64_t dataOffset_ = 0;
  StreamStatus streamStatus_ = StreamStatus::NotOpen;
  std::weak_ptr<StreamDelegate> delegate_;
};
