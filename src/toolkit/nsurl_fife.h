#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/url.h"

// Size and crop options of the identity provider's image-server URLs. Current layout: the options
// follow the last "=" ("…/photo=s96-c"). Legacy layout: they are one path segment, told apart by
// the number of path components.

struct FIFEImageSize {
  double width;
  double height;
  bool operator==(const FIFEImageSize&) const = default;
};

bool isFIFEUrl(const URL& url);
bool isLegacyFIFEURL(const URL& url);
std::optional<std::string> FIFEArgumentsString(const URL& url);
std::optional<std::string> legacyFIFEArgumentsString(const URL& url);
URL URLByRemovingFIFEInfo(const URL& url);
URL URLByAppendingTrailingSlash(const URL& url);
// Nothing when a legacy URL has no place for options.
std::optional<URL> FIFEURLWithArguments(const URL& url, const std::vector<std::string>& arguments);
std::optional<URL> FIFELegacyURLWithArgumentsString(const URL& url, const std::string& arguments);
// The bounds the options set; the largest finite double where they set none.
FIFEImageSize maximumFIFEImageSize(const URL& url);

// Numbers are the ceiling of the value, at most 3200; values below 1 are passed on as they come.
std::optional<URL> FIFEURLRequestingMaxSize(const URL& url, double size);
std::optional<URL> FIFEURLRequestingExactDimensions(const URL& url, FIFEImageSize size);
std::optional<URL> FIFEURLRequestingDimensions(const URL& url, FIFEImageSize size);
std::optional<URL> FIFEURLRequestingSmartCropToMaxSize(const URL& url, double size);
std::optional<URL> FIFEURLRequestingSmartCropToDimensions(const URL& url, FIFEImageSize size);
std::optional<URL> FIFEURLRequestingCenteredCropToDimensions(const URL& url, FIFEImageSize size);
