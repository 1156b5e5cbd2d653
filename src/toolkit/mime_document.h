#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/data.h"
#include "toolkit/gather_input_stream.h"

using ZTKMIMEHeaders = std::map<std::string, std::string>;

// One part of a multipart body: its header block and its body, both held without copying.
class ZSDK_ZTKMIMEPart {
 public:
  // A header name or value holding CR or LF would add lines of its own to the header block:
  // std::invalid_argument.
  static std::shared_ptr<ZSDK_ZTKMIMEPart> partWithHeaders(const ZTKMIMEHeaders& headers, Data body);
  ZSDK_ZTKMIMEPart(const ZTKMIMEHeaders& headers, Data body);

  // "Name: value\r\n" per header, names ordered without regard to case, then "\r\n".
  static Data headerBlock(const ZTKMIMEHeaders& headers);

  const std::shared_ptr<const Data>& header() const { return headerData_; }
  const std::shared_ptr<const Data>& body() const { return bodyData_; }
  std::size_t length() const { return headerData_->size() + bodyData_->size(); }
  bool containsBytes(const std::uint8_t* bytes, std::size_t length) const;
  std::string description() const;

 private:
  std::shared_ptr<const Data> headerData_;
  std::shared_ptr<const Data> bodyData_;
};

// Builds a multipart body: picks a boundary found in none of its parts and hands the whole body
// out as one gather stream with its length. Used by one thread at a time.
class ZSDK_ZTKMIMEDocument {
 public:
  static std::shared_ptr<ZSDK_ZTKMIMEDocument> MIMEDocument();

  void addPartWithHeaders(const ZTKMIMEHeaders& headers, Data body);
  // Chooses one when none is set.
  std::string boundary();
  // Taken as given, without looking at the parts.
  void setBoundary(std::optional<std::string> boundary) { boundary_ = std::move(boundary); }
  // 0: system randomness; otherwise a counter, for reproducible boundaries.
  void seedRandomWith(std::uint32_t seed);
  std::uint32_t random();

  struct Output {
    std::shared_ptr<ZSDK_ZTKGatherInputStream> stream;
    std::uint64_t length = 0;
    std::string boundary;
  };
  Output generateInputStream();

  const std::vector<std::shared_ptr<ZSDK_ZTKMIMEPart>>& parts() const { return parts_; }
  std::string description() const;

 private:
  bool anyPartContains(const std::string& candidate) const;

  std::vector<std::shared_ptr<ZSDK_ZTKMIMEPart>> parts_;
  std::optional<std::string> boundary_;
  std::uint32_t randomSeed_ = 0;
};
