#include "platform/net/input_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/foundation/url.h"

std::optional<Value> InputStream::propertyForKey(const std::string&) const { return std::nullopt; }
bool InputStream::setProperty(const Value&, const std::string&) { return false; }

namespace {

class DataInputStream final : public InputStream {
 public:
  explicit DataInputStream(Data data) : data_(std::move(data)) {}

  void open() override {
    if (status_ == StreamStatus::NotOpen) status_ = StreamStatus::Open;
  }
  void close() override { status_ = StreamStatus::Closed; }
  long read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (status_ != StreamStatus::Open && status_ != StreamStatus::AtEnd) return -1;
    std::size_t n = std::min(maxLength, data_.size() - offset_);
    if (n > 0) std::memcpy(buffer, data_.data() + offset_, n);
    offset_ += n;
    if (offset_ == data_.size()) status_ = StreamStatus::AtEnd;
    return static_cast<long>(n);
  }
  bool hasBytesAvailable() const override { return offset_ < data_.size(); }
  StreamStatus streamStatus() const override { return status_; }
  std::optional<Value> propertyForKey(const std::string& key) const override {
    if (key == NSStreamFileCurrentOffsetKey) return Value(static_cast<long long>(offset_));
    return std::nullopt;
  }
  bool setProperty(const Value& property, const std::string& key) override {
    auto offset = property.asInteger();
    if (key != NSStreamFileCurrentOffsetKey || !offset || *offset < 0 ||
        static_cast<std::size_t>(*offset) > data_.size())
      return false;
    offset_ = static_cast<std::size_t>(*offset);
    if (status_ == StreamStatus::AtEnd && offset_ < data_.size()) status_ = StreamStatus::Open;
    return true;
  }

 private:
  Data data_;
  std::size_t offset_ = 0;
  StreamStatus status_ = StreamStatus::NotOpen;
};

class FileInputStream final : public InputStream {
 public:
  explicit FileInputStream(std::string path) : path_(std::move(path)) {}
  ~FileInputStream() override {
    if (fd_ >= 0) ::close(fd_);
  }

  void open() override {
    if (status_ != StreamStatus::NotOpen) return;
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
      fail(errno);
      return;
    }
    status_ = StreamStatus::Open;
  }
  void close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    status_ = StreamStatus::Closed;
  }
  long read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (fd_ < 0) return -1;
    ssize_t n;
    do {
      n = ::read(fd_, buffer, maxLength);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      fail(errno);
      return -1;
    }
    if (n == 0) status_ = StreamStatus::AtEnd;
    return static_cast<long>(n);
  }
  bool hasBytesAvailable() const override { return status_ == StreamStatus::Open; }
  StreamStatus streamStatus() const override { return status_; }
  std::optional<NSError> streamError() const override { return error_; }
  std::optional<Value> propertyForKey(const std::string& key) const override {
    if (key != NSStreamFileCurrentOffsetKey || fd_ < 0) return std::nullopt;
    return Value(static_cast<long long>(::lseek(fd_, 0, SEEK_CUR)));
  }
  bool setProperty(const Value& property, const std::string& key) override {
    auto offset = property.asInteger();
    if (key != NSStreamFileCurrentOffsetKey || !offset || fd_ < 0) return false;
    if (::lseek(fd_, static_cast<off_t>(*offset), SEEK_SET) < 0) return false;
    if (status_ == StreamStatus::AtEnd) status_ = StreamStatus::Open;
    return true;
  }

 private:
  void fail(int err) {
    status_ = StreamStatus::Error;
    error_ = NSError("NSPOSIXErrorDomain", err, {{NSLocalizedDescriptionKey, Value(std::string(std::strerror(err)))}});
  }

  std::string path_;
  int fd_ = -1;
  StreamStatus status_ = StreamStatus::NotOpen;
  std::optional<NSError> error_;
};

}  // namespace

std::shared_ptr<InputStream> InputStream::inputStreamWithData(Data data) {
  return std::make_shared<DataInputStream>(std::move(data));
}

std::shared_ptr<InputStream> InputStream::inputStreamWithFileAtPath(std::string path) {
  return std::make_shared<FileInputStream>(std::move(path));
}
