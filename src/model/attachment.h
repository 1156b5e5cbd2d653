#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "model/document_response.h"

// One document of a curriculum.
class Attachment {
 public:
  // Nothing without an id, name, path or file name.
  static std::shared_ptr<Attachment> init(const DocumentResponse& record);

  std::int64_t id() const { return id_; }
  void setId(std::int64_t id) { id_ = id; }
  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  // The absolute document URL, percent-encoded as a whole (an escape already in the path is
  // encoded again).
  const std::optional<std::string>& url() const { return url_; }
  void setUrl(std::optional<std::string> url) { url_ = std::move(url); }
  const std::string& fileName() const { return fileName_; }
  void setFileName(std::string fileName) { fileName_ = std::move(fileName); }

 private:
  Attachment() = default;

  std::int64_t id_ = 0;
  std::string name_;
  std::optional<std::string> url_;
  std::string fileName_;
};
