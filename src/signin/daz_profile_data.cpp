#include "signin/daz_profile_data.h"

#include "toolkit/nsurl_fife.h"

DAZProfileData::DAZProfileData(std::optional<std::string> email, std::optional<std::string> name,
                               std::optional<std::string> givenName, std::optional<std::string> familyName,
                               std::optional<URL> imageURL)
    : email_(std::move(email)),
      name_(std::move(name)),
      givenName_(std::move(givenName)),
      familyName_(std::move(familyName)),
      imageURL_(std::move(imageURL)) {}

std::optional<URL> DAZProfileData::imageURLWithDimension(unsigned dimension) const {
  if (!imageURL_ || !isFIFEUrl(*imageURL_)) return imageURL_;
  return FIFEURLRequestingMaxSize(*imageURL_, dimension).value_or(*imageURL_);
}
