#pragma once

#include <optional>
#include <string>

#include "platform/foundation/url.h"

// The basic profile of a Zedodo user.
class DAZProfileData {
 public:
  DAZProfileData(std::optional<std::string> email, std::optional<std::string> name,
                 std::optional<std::string> givenName, std::optional<std::string> familyName,
                 std::optional<URL> imageURL);

  const std::optional<std::string>& email() const { return email_; }
  const std::optional<std::string>& name() const { return name_; }
  const std::optional<std::string>& givenName() const { return givenName_; }
  const std::optional<std::string>& familyName() const { return familyName_; }
  bool hasImage() const { return imageURL_.has_value(); }

  // The picture's address; an image-server address asks for at most `dimension` pixels a side.
  std::optional<URL> imageURLWithDimension(unsigned dimension) const;

 private:
  std::optional<std::string> email_;
  std::optional<std::string> name_;
  std::optional<std::string> givenName_;
  std::optional<std::string> familyName_;
  std::optional<URL> imageURL_;
};
