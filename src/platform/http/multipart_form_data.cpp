#include "platform/http/multipart_form_data.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string_view>

#include "platform/http/http_error.h"

namespace {

constexpr const char* kCRLF = "\r\n";

std::string makeBoundary() {
  std::random_device rd;
  char buf[48];
  std::snprintf(buf, sizeof buf, "dorvale.boundary.%08x%08x", rd(), rd());
  return buf;
}

// A name or file name goes inside a quoted header parameter: a quote or a line break in it must
// not end the parameter or start a header of its own.
std::string quotedParameter(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '"': out += "%22"; break;
      case '\r': out += "%0D"; break;
      case '\n': out += "%0A"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string headerValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '\r' && c != '\n') out.push_back(c);
  }
  return out;
}

}  // namespace

MultipartFormData::MultipartFormData() : boundary_(makeBoundary()) {}

void MultipartFormData::append(const Data& data, const std::string& name, const std::string& fileName,
                               const std::string& mimeType) {
  std::string headers = "Content-Disposition: form-data; name=\"" + quotedParameter(name) + "\"; filename=\"" +
                        quotedParameter(fileName) + "\"" + kCRLF + "Content-Type: " + headerValue(mimeType) + kCRLF +
                        kCRLF;
  parts_.push_back({std::move(headers), data});
}

std::string MultipartFormData::contentType() const { return "multipart/form-data; boundary=" + boundary_; }

std::uint64_t MultipartFormData::contentLength() const {
  std::uint64_t n = 0;
  for (const auto& part : parts_) n += 2 + boundary_.size() + 2 + part.headers.size() + part.data.size() + 2;
  return n + 2 + boundary_.size() + 2 + 2;
}

Data MultipartFormData::encode() const {
  Data out;
  out.bytes.reserve(contentLength());
  for (const auto& part : parts_) {
    out.append("--" + boundary_ + kCRLF);
    out.append(part.headers);
    out.append(part.data);
    out.append(kCRLF);
  }
  out.append("--" + boundary_ + "--" + kCRLF);
  return out;
}

std::optional<NSError> MultipartFormData::writeEncodedDataToFile(const std::string& path) const {
  FILE* f = std::fopen(path.c_str(), "wbx");
  if (!f) {
    return httpError(HTTPErrorCode::MultipartEncodingFailed,
                     "Failed to create the multipart form data file " + path + ": " + std::strerror(errno));
  }
  // Part by part, so a body too large for memory is never held whole.
  bool ok = true;
  auto write = [&](std::string_view bytes) {
    ok = ok && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  };
  for (const auto& part : parts_) {
    write("--" + boundary_ + kCRLF);
    write(part.headers);
    write(part.data.view());
    write(kCRLF);
  }
  write("--" + boundary_ + "--" + kCRLF);
  const int err = errno;
  if (std::fclose(f) != 0 || !ok) {
    std::remove(path.c_str());
    return httpError(HTTPErrorCode::MultipartEncodingFailed,
                     "Failed to write the multipart form data file " + path + ": " + std::strerror(err));
  }
  return std::nullopt;
}
