#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/data.h"
#include "platform/foundation/ns_error.h"

// A multipart/form-data body under construction: the upload's form function appends parts, the
// client encodes them once the form function returns.
class MultipartFormData {
 public:
  MultipartFormData();

  void append(const Data& data, const std::string& name, const std::string& fileName, const std::string& mimeType);

  const std::string& boundary() const { return boundary_; }
  // The value of the request's "Content-Type".
  std::string contentType() const;
  std::uint64_t contentLength() const;

  Data encode() const;
  // Writes the encoded body to `path` (a new file); the error when that fails.
  std::optional<NSError> writeEncodedDataToFile(const std::string& path) const;

 private:
  struct BodyPart {
    std::string headers;
    Data data;
  };
  std::string boundary_;
  std::vector<BodyPart> parts_;
};
