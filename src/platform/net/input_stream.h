#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/data.h"
#include "platform/foundation/ns_error.h"
#include "platform/foundation/value.h"

enum class StreamStatus {
  NotOpen = 0,
  Opening = 1,
  Open = 2,
  Reading = 3,
  Writing = 4,
  AtEnd = 5,
  Closed = 6,
  Error = 7
};

enum StreamEvent : unsigned {
  StreamEventNone = 0,
  StreamEventOpenCompleted = 1 << 0,
  StreamEventHasBytesAvailable = 1 << 1,
  StreamEventHasSpaceAvailable = 1 << 2,
  StreamEventErrorOccurred = 1 << 3,
  StreamEventEndEncountered = 1 << 4,
};

// Property key whose value is the current read offset (an integer), for seekable streams.
inline constexpr const char* NSStreamFileCurrentOffsetKey = "kCFStreamPropertyFileCurrentOffset";

class InputStream;

class StreamDelegate {
 public:
  virtual ~StreamDelegate() = default;
  virtual void stream(InputStream& aStream, StreamEvent eventCode) = 0;
};

// A source of bytes read in order. Subclasses override read() and the status calls; the URL
// session reads request bodies through it on its own thread.
class InputStream : public std::enable_shared_from_this<InputStream> {
 public:
  static std::shared_ptr<InputStream> inputStreamWithData(Data data);
  // A file that cannot be opened shows as an error after open().
  static std::shared_ptr<InputStream> inputStreamWithFileAtPath(std::string path);

  virtual ~InputStream() = default;

  virtual void open() = 0;
  virtual void close() = 0;
  // Bytes read (at most maxLength), 0 at the end, -1 on error (see streamError()).
  virtual long read(std::uint8_t* buffer, std::size_t maxLength) = 0;
  virtual bool hasBytesAvailable() const = 0;
  virtual StreamStatus streamStatus() const = 0;
  virtual std::optional<NSError> streamError() const { return std::nullopt; }

  virtual std::optional<Value> propertyForKey(const std::string& key) const;
  virtual bool setProperty(const Value& property, const std::string& key);

  virtual std::shared_ptr<StreamDelegate> delegate() const { return delegate_.lock(); }
  virtual void setDelegate(std::shared_ptr<StreamDelegate> delegate) { delegate_ = delegate; }

 private:
  std::weak_ptr<StreamDelegate> delegate_;
};
