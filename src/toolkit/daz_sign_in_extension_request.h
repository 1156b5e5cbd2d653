#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/url.h"
#include "platform/foundation/value.h"

class DAZSignInExtensionRequest;

// What the share sheet hands an extension: items of a type.
struct NSItemProvider {
  std::shared_ptr<const DAZSignInExtensionRequest> item;
  std::string typeIdentifier;
};
struct NSExtensionItem {
  std::vector<NSItemProvider> attachments;
};

// The request the sign-in core hands an application extension. Securely codable: it codes to a
// keyed dictionary and decodes only values of the expected types.
class DAZSignInExtensionRequest : public std::enable_shared_from_this<DAZSignInExtensionRequest> {
 public:
  static constexpr const char* kTypeIdentifier = "com.zedodo.consent.request";
  static constexpr const char* kRequestURLKey = "requestURL";
  static constexpr const char* kBundleIDKey = "requestBundleID";
  static constexpr bool supportsSecureCoding = true;

  DAZSignInExtensionRequest() = delete;
  DAZSignInExtensionRequest(URL requestURL, std::string bundleID)
      : requestURL_(std::move(requestURL)), bundleID_(std::move(bundleID)) {}

  const URL& requestURL() const { return requestURL_; }
  const std::string& bundleID() const { return bundleID_; }
  std::string typeIdentifier() const { return kTypeIdentifier; }

  NSExtensionItem extensionItem() const;

  Value::Dictionary encodeWithCoder() const;
  // Nothing when a key is missing or holds a value of another type.
  static std::shared_ptr<DAZSignInExtensionRequest> initWithCoder(const Value::Dictionary& coder);

 private:
  URL requestURL_;
  std::string bundleID_;
};
