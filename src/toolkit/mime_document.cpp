#include "toolkit/mime_document.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <stdexcept>

#include "platform/foundation/ascii.h"

// ---------------------------------------------------------------------------------------------
// Part

std::shared_ptr<ZSDK_ZTKMIMEPart> ZSDK_ZTKMIMEPart::partWithHeaders(const ZTKMIMEHeaders& headers, Data body) {
  return std::make_shared<ZSDK_ZTKMIMEPart>(headers, std::move(body));
}

ZSDK_ZTKMIMEPart::ZSDK_ZTKMIMEPart(const ZTKMIMEHeaders& headers, Data body)
    : headerData_(std::make_shared<const Data>(headerBlock(headers))),
      bodyData_(std::make_shared<const Data>(std::move(body))) {}

Data ZSDK_ZTKMIMEPart::headerBlock(const ZTKMIMEHeaders& headers) {
  std::vector<const ZTKMIMEHeaders::value_type*> sorted;
  for (const auto& header : headers) {
    const auto breaksLine = [](const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; };
    if (breaksLine(header.first) || breaksLine(header.second))
      throw std::invalid_argument("MIME header name or value holds a line break: " + header.first);
    sorted.push_back(&header);
  }
  std::stable_sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) {
    return std::lexicographical_compare(a->first.begin(), a->first.end(), b->first.begin(), b->first.end(),
                                        [](char x, char y) { return asciiLower(x) < asciiLower(y); });
  });
  std::string block;
  for (const auto* header : sorted) block += fmt::format("{}: {}\r\n", header->first, header->second);
  block += "\r\n";
  return Data::fromString(block);
}

static bool bufferContains(const Data& buffer, const std::uint8_t* bytes, std::size_t length) {
  const std::uint8_t* cursor = buffer.data();
  const std::uint8_t* const end = buffer.data() + buffer.size();
  while (cursor < end) {
    const auto* first = static_cast<const std::uint8_t*>(std::memchr(cursor, bytes[0], end - cursor));
    if (!first || static_cast<std::size_t>(end - first) < length) return false;
    if (std::memcmp(first, bytes, length) == 0) return true;
    cursor = first + 1;
  }
  return false;
}

bool ZSDK_ZTKMIMEPart::containsBytes(const std::uint8_t* bytes, std::size_t length) const {
  if (length == 0) return false;
  return bufferContains(*headerData_, bytes, length) || bufferContains(*bodyData_, bytes, length);
}

std::string ZSDK_ZTKMIMEPart::description() const {
  return fmt::format("ZSDK_ZTKMIMEPart {} (header {} bytes, body {} bytes)", fmt::ptr(this), headerData_->size(),
                     bodyData_->size());
}

// ---------------------------------------------------------------------------------------------
// Document

std::shared_ptr<ZSDK_ZTKMIMEDocument> ZSDK_ZTKMIMEDocument::MIMEDocument() {
  return std::make_shared<ZSDK_ZTKMIMEDocument>();
}

void ZSDK_ZTKMIMEDocument::addPartWithHeaders(const ZTKMIMEHeaders& headers, Data body) {
  parts_.push_back(ZSDK_ZTKMIMEPart::partWithHeaders(headers, std::move(body)));
  boundary_.reset();
}

void ZSDK_ZTKMIMEDocument::seedRandomWith(std::uint32_t seed) {
  randomSeed_ = seed;
  boundary_.reset();
}

std::uint32_t ZSDK_ZTKMIMEDocument::random() {
  if (randomSeed_ == 0) {
    thread_local std::random_device device;
    return static_cast<std::uint32_t>(device());
  }
  return randomSeed_++;
}

bool ZSDK_ZTKMIMEDocument::anyPartContains(const std::string& candidate) const {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(candidate.data());
  return std::any_of(parts_.begin(), parts_.end(),
                     [&](const auto& part) { return part->containsBytes(bytes, candidate.size()); });
}

std::string ZSDK_ZTKMIMEDocument::boundary() {
  if (boundary_) return *boundary_;
  static constexpr const char* kBase = "END_OF_PART";
  std::string candidate = kBase;
  for (int tries = 0; tries < 10; ++tries) {
    if (!anyPartContains(candidate)) {
      boundary_ = candidate;
      return candidate;
    }
    candidate = fmt::format("{}_{:08x}", kBase, random());
  }
  const std::uint32_t first = random();
  boundary_ = fmt::format("{:08x}_vantrel_{:08x}", first, random());
  return *boundary_;
}

ZSDK_ZTKMIMEDocument::Output ZSDK_ZTKMIMEDocument::generateInputStream() {
  Output output;
  output.boundary = boundary();
  const auto separator = std::make_shared<const Data>(Data::fromString("\r\n--" + output.boundary + "\r\n"));
  const auto endMarker = std::make_shared<const Data>(Data::fromString("\r\n--" + output.boundary + "--\r\n"));
  ZSDK_ZTKGatherInputStream::DataArray blocks;
  for (const auto& part : parts_) {
    blocks.push_back(separator);
    blocks.push_back(part->header());
    blocks.push_back(part->body());
    output.length += separator->size() + part->length();
  }
  blocks.push_back(endMarker);
  output.length += endMarker->size();
  output.stream = ZSDK_ZTKGatherInputStream::streamWithArray(std::move(blocks));
  return output;
}

std::string ZSDK_ZTKMIMEDocument::description() const {
  return fmt::format("ZSDK_ZTKMIMEDocument {} ({} parts)", fmt::ptr(this), parts_.size());
}
