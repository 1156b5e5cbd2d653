#include "signin/daz_profile_data.h"

#include <vector>

DAZProfileData::DAZProfileData(std::optional<std::string> email, std::optional<std::string> name,
                               std::optional<std::string> givenName, std::optional<std::string> familyName,
                               std::optional<URL> imageURL)
    : email_(std::move(email)),
      name_(std::move(name)),
      givenName_(std::move(givenName)),
      familyName_(std::move(familyName)),
      imageURL_(std::move(imageURL)) {}

std::optional<URL> DAZProfileData::imageURLWithDimension(unsigned dimension) const {
  if (!imageURL_) return std::nullopt;
  const std::string host = imageURL_->host().value_or("");
  const std::string server = kImageServerHost;
  const bool onImageServer = host == server || (host.size() > server.size() && host.ends_with("." + server));
  if (!onImageServer) return imageURL_;

  // Same address, any earlier size replaced.
  std::vector<URLQueryItem> items;
  for (auto& item : imageURL_->queryItems()) {
    if (item.name != "sz") items.push_back(std::move(item));
  }
  items.push_back({"sz", std::to_string(dimension)});
  std::string text = imageURL_->absoluteString();
  text = text.substr(0, text.find_first_of("?#"));
  text += "?" + percentEncodedQuery(items);
  if (auto fragment = imageURL_->fragment()) text += "#" + *fragment;
  return URL::URLWithString(text);
}
