#include "platform/frameworks/fbsdk_graph_request.h"

#include <vector>

#include "platform/foundation/url.h"
#include "platform/frameworks/fbsdk_settings.h"
#include "platform/http/http_client.h"
#include "platform/http/string_encoding.h"

namespace {

NSError graphError(FBSDKErrorCode code, std::string description, Value::Dictionary info = {}) {
  info[NSLocalizedDescriptionKey] = std::move(description);
  return NSError(FBSDKErrorDomain, static_cast<long>(code), std::move(info));
}

// An answer with an error status: the Graph API's own message when its body carries one.
NSError statusError(int status, const std::optional<Value>& body) {
  std::string message = "The Graph API answered with status " + std::to_string(status) + ".";
  Value::Dictionary info{{FBSDKGraphRequestErrorHTTPStatusCodeKey, status}};
  if (body) {
    if (const Value* error = body->find("error")) {
      if (const Value* text = error->find("message"); text && text->asString()) message = *text->asString();
    }
    info[FBSDKGraphRequestErrorParsedJSONResponseKey] = *body;
  }
  return graphError(FBSDKErrorCode::GraphRequestGraphAPI, std::move(message), std::move(info));
}

// A transport error names the URL it failed on, and the token travels in that URL's query. The
// error's description reaches the user's screen, so it names the URL without the token.
NSError withoutToken(NSError error, const std::string& safeURL) {
  for (const char* key : {NSURLErrorFailingURLErrorKey, NSURLErrorFailingURLStringErrorKey}) {
    if (auto found = error.userInfo.find(key); found != error.userInfo.end()) found->second = Value(safeURL);
  }
  return error;
}

}  // namespace

FBSDKGraphRequest::FBSDKGraphRequest(std::string graphPath, std::map<std::string, std::string> parameters,
                                     std::optional<std::string> tokenString, std::optional<std::string> version,
                                     std::string HTTPMethod)
    : graphPath_(std::move(graphPath)),
      parameters_(std::move(parameters)),
      tokenString_(std::move(tokenString)),
      version_(std::move(version)),
      HTTPMethod_(std::move(HTTPMethod)) {}

std::string FBSDKGraphRequest::urlString(bool withToken) const {
  std::string url = FBSDKSettings::graphBaseURL();
  const std::string version = version_.value_or(FBSDKSettings::graphAPIVersion());
  if (!version.empty()) url += version + "/";
  url += graphPath_.starts_with('/') ? graphPath_.substr(1) : graphPath_;
  std::vector<URLQueryItem> items;
  for (const auto& [name, value] : parameters_) items.push_back({name, value});
  if (tokenString_ && withToken) items.push_back({"access_token", *tokenString_});
  if (!items.empty()) url += "?" + percentEncodedQuery(items);
  return url;
}

std::shared_ptr<FBSDKGraphRequestConnection> FBSDKGraphRequest::startWithCompletionHandler(Handler handler) const {
  auto connection = std::make_shared<FBSDKGraphRequestConnection>();
  URLRequest urlRequest;
  urlRequest.url = URL::URLWithString(urlString());
  urlRequest.httpMethod = HTTPMethod_;
  HTTPClient::defaultClient()
      ->request(urlRequest)
      ->responseString(StringEncoding::UTF8, [connection, handler = std::move(handler), safeURL = urlString(false)](
                                                 const std::optional<URLRequest>&,
                                                 const std::shared_ptr<const HTTPURLResponse>& response,
                                                 const Result<std::string>& result) {
        if (connection->isCancelled() || !handler) return;
        if (!response) {
          handler(connection, std::nullopt, withoutToken(result.error().value_or(NSError()), safeURL));
          return;
        }
        std::optional<Value> body;
        if (result.value()) {
          body = Value::fromJSON(*result.value());
        } else if (result.data()) {
          if (auto text = stringFromData(*result.data(), StringEncoding::UTF8)) body = Value::fromJSON(*text);
        }
        const int status = response->statusCode();
        if (status < 200 || status > 299) {
          handler(connection, std::nullopt, statusError(status, body));
        } else if (body && body->asDictionary()) {
          handler(connection, *body->asDictionary(), std::nullopt);
        } else {
          handler(connection, std::nullopt,
                  graphError(FBSDKErrorCode::InvalidGraphResponse, "The Graph API answer is not a JSON object."));
        }
      });
  return connection;
}
