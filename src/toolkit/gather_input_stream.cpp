#include "toolkit/gather_input_stream.h"

#include <algorithm>
#include <cstring>

std::shared_ptr<ZSDK_ZTKGatherInputStream> ZSDK_ZTKGatherInputStream::streamWithArray(DataArray dataArray) {
  return std::make_shared<ZSDK_ZTKGatherInputStream>(std::move(dataArray));
}

ZSDK_ZTKGatherInputStream::ZSDK_ZTKGatherInputStream(DataArray dataArray) : dataArray_(std::move(dataArray)) {}

void ZSDK_ZTKGatherInputStream::open() {
  arrayIndex_ = 0;
  dataOffset_ = 0;
  streamStatus_ = StreamStatus::Open;
}

void ZSDK_ZTKGatherInputStream::close() { streamStatus_ = StreamStatus::Closed; }

static std::int64_t blockLength(const std::shared_ptr<const Data>& block) {
  return block ? static_cast<std::int64_t>(block->size()) : 0;
}

long ZSDK_ZTKGatherInputStream::read(std::uint8_t* buffer, std::size_t maxLength) {
  std::size_t copied = 0;
  std::size_t wanted = maxLength;
  while (wanted > 0 && arrayIndex_ < dataArray_.size()) {
    const auto& block = dataArray_[arrayIndex_];
    const std::int64_t length = blockLength(block);
    const auto taken = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(wanted), std::max<std::int64_t>(length - dataOffset_, 0)));
    if (taken > 0) std::memcpy(buffer + copied, block->data() + dataOffset_, taken);
    copied += taken;
    dataOffset_ += static_cast<std::int64_t>(taken);
    if (dataOffset_ >= length) {
      dataOffset_ = 0;
      ++arrayIndex_;
    }
    wanted -= taken;
  }
  if (arrayIndex_ >= dataArray_.size()) streamStatus_ = StreamStatus::AtEnd;
  return static_cast<long>(copied);
}

bool ZSDK_ZTKGatherInputStream::getBuffer(std::uint8_t**, std::size_t*) const { return false; }

std::optional<Value> ZSDK_ZTKGatherInputStream::propertyForKey(const std::string& key) const {
  if (key == NSStreamFileCurrentOffsetKey) return Value(static_cast<long long>(absoluteOffset()));
  return std::nullopt;
}

bool ZSDK_ZTKGatherInputStream::setProperty(const Value& property, const std::string& key) {
  if (key != NSStreamFileCurrentOffsetKey) return false;
  setAbsoluteOffset(property.asInteger().value_or(0));
  return true;
}

std::int64_t ZSDK_ZTKGatherInputStream::absoluteOffset() const {
  std::int64_t offset = 0;
  for (std::size_t i = 0; i < arrayIndex_ && i < dataArray_.size(); ++i) offset += blockLength(dataArray_[i]);
  return offset + dataOffset_;
}

void ZSDK_ZTKGatherInputStream::setAbsoluteOffset(std::int64_t absoluteOffset) {
  arrayIndex_ = 0;
  dataOffset_ = std::max<std::int64_t>(absoluteOffset, 0);
  while (arrayIndex_ < dataArray_.size() && blockLength(dataArray_[arrayIndex_]) <= dataOffset_) {
    dataOffset_ -= blockLength(dataArray_[arrayIndex_]);
    ++arrayIndex_;
  }
  if (arrayIndex_ >= dataArray_.size()) dataOffset_ = 0;
}

std::shared_ptr<StreamDelegate> ZSDK_ZTKGatherInputStream::delegate() const {
  if (auto set = delegate_.lock()) return set;
  return std::const_pointer_cast<ZSDK_ZTKGatherInputStream>(
      std::static_pointer_cast<const ZSDK_ZTKGatherInputStream>(shared_from_this()));
}

void ZSDK_ZTKGatherInputStream::setDelegate(std::shared_ptr<StreamDelegate> delegate) {
  // Holding itself would be a cycle; an empty weak reference already means "itself".
  if (delegate.get() == static_cast<StreamDelegate*>(this)) delegate.reset();
  delegate_ = delegate;
}

void ZSDK_ZTKGatherInputStream::stream(InputStream&, StreamEvent eventCode) {
  if (auto set = delegate_.lock()) set->stream(*this, eventCode);
}
