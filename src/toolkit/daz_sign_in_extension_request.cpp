#include "toolkit/daz_sign_in_extension_request.h"

NSExtensionItem DAZSignInExtensionRequest::extensionItem() const {
  return NSExtensionItem{{NSItemProvider{shared_from_this(), kTypeIdentifier}}};
}

Value::Dictionary DAZSignInExtensionRequest::encodeWithCoder() const {
  return {{kRequestURLKey, requestURL_.absoluteString()}, {kBundleIDKey, bundleID_}};
}

std::shared_ptr<DAZSignInExtensionRequest> DAZSignInExtensionRequest::initWithCoder(const Value::Dictionary& coder) {
  const auto url = coder.find(kRequestURLKey);
  const auto bundleID = coder.find(kBundleIDKey);
  if (url == coder.end() || bundleID == coder.end() || !url->second.asString() || !bundleID->second.asString())
    return nullptr;
  auto requestURL = URL::URLWithString(*url->second.asString());
  if (!requestURL) return nullptr;
  return std::make_shared<DAZSignInExtensionRequest>(std::move(*requestURL), *bundleID->second.asString());
}
