#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "backend/transfer_error.h"
#include "model/mappable_array.h"
#include "model/transfer_decodable.h"
#include "model/transfer_encodable.h"
#include "platform/foundation/data.h"
#include "platform/foundation/ns_error.h"
#include "platform/http/http_client.h"
#include "platform/http/method.h"
#include "platform/http/result.h"
#include "platform/http/string_encoding.h"
#include "platform/json/mapper.h"
#include "platform/net/url_request.h"
#include "platform/net/url_response.h"

// The sign-in method in force; an absent value means nobody is signed in.
enum class AuthenticationType { Basic, Facebook, Zedodo };

// What the transfer coordinator needs of the sign-in state (the authentication manager).
class AuthenticationManaging {
 public:
  virtual ~AuthenticationManaging() = default;
  virtual std::optional<AuthenticationType> authenticationType() const = 0;
  virtual std::optional<std::string> accessToken() const = 0;
  virtual std::optional<std::string> fbToken() const = 0;
  // A fresh Zedodo token, or failure with why; either continuation runs once, on the main run loop.
  // The failure is TransferCoordinator::notSignedInError() when the sign-in is over.
  virtual void refreshZedodoToken(std::function<void(std::string token)> success,
                                  std::function<void(NSError error)> failure) = 0;
  virtual void logout(std::function<void()> completion = {}) = 0;
};

// Errors the transfer layer makes itself.
inline constexpr const char* TransferErrorDomain = "com.dorvale.transfer";

enum class TransferErrorCode : long {
  // The signed-in method has no usable token (none stored, empty, or with a line break): the
  // request was not sent. It answers like the server's 401, so the sign-in ends.
  NotSignedIn = -1,
  // A renewed Zedodo token that cannot go on a header line: the request was not sent, the sign-in
  // stays.
  UnusableToken = -2,
};

// The one network road to the backend: JSON requests with the signed-in method's authorization,
// raw downloads and the profile-picture upload. Every answer arrives on the main run loop, never
// inside the call that started it. Main thread only.
class TransferCoordinator : public std::enable_shared_from_this<TransferCoordinator> {
 public:
  template <class T, class E>
  using ReplyCompletion = std::function<void(std::optional<T> reply, std::optional<TransferError<E>> error)>;
  using DownloadCompletion = std::function<void(std::optional<Data> data, std::optional<NSError> error)>;
  // An answer as the HTTP layer gives it; a request that was never sent answers with an error and
  // neither request nor response.
  using AnswerHandler =
      std::function<void(const std::optional<URLRequest>& request,
                         const std::shared_ptr<const HTTPURLResponse>& response, const Result<std::string>& result)>;

  // Over the process's HTTP client.
  TransferCoordinator();
  explicit TransferCoordinator(std::shared_ptr<HTTPClient> client);
  virtual ~TransferCoordinator() = default;

  // Held weakly; set once before the first request.
  std::shared_ptr<AuthenticationManaging> authenticationManager() const { return authenticationManager_.lock(); }
  void setAuthenticationManager(std::weak_ptr<AuthenticationManaging> manager) {
    authenticationManager_ = std::move(manager);
  }
  const std::shared_ptr<HTTPClient>& httpClient() const { return client_; }

  // Sends `payload` as the JSON body of a `method` request to `url` and hands the decoded reply T,
  // or the failure with the error body decoded as E, to `completion` (which may be empty). A 2xx
  // text that T refuses, or that is not a JSON array for a list, gives neither reply nor error.
  // With `authenticate`, the signed-in method's authorization goes along; a method without a
  // usable token fails with NotSignedIn and status 401, unsent; a failed Zedodo refresh fails it
  // unsent with the refresh's error.
  template <TransferEncodable P, TransferDecodable T, TransferDecodable E>
  void sendRequest(Method method, std::string_view url, const std::optional<P>& payload, bool authenticate,
                   ReplyCompletion<T, E> completion = {}) {
    std::optional<std::string> body;
    if (payload) body = encode(*payload);
    sendRequest(method, url, std::move(body), authenticate, replyHandler<T, E>(std::move(completion)));
  }

  // The same with the body as text.
  virtual void sendRequest(Method method, std::string_view url, std::optional<std::string> body, bool authenticate,
                           AnswerHandler answer);

  // Logs and sends the prepared request, validating the status; `answer` gets the reply text.
  virtual void processRequest(Method method, const URLRequest& request, AnswerHandler answer);

  // A plain GET: no headers of ours, no authorization. A status outside 200-299 comes with an error;
  // the body is passed either way.
  virtual void downloadDataFromUrl(std::string_view url, DownloadCompletion completion);

  // Uploads the picture as the multipart part "file" ("profilePic." + format, "image/" + format) with
  // the signed-in method's authorization. Nobody signed in: logs out, nothing else. A missing token:
  // failure with NotSignedIn; a failed Zedodo refresh: failure with its error. An answer outside
  // 200-299: failure with the decoded error body.
  template <TransferDecodable E>
  void uploadImage(std::string_view url, Data imageData, std::string pictureFormat, std::function<void()> success,
                   std::function<void(std::optional<TransferError<E>>)> failure,
                   std::function<void(std::string)> encodeError) {
    AnswerHandler failed;
    if (failure) {
      failed = [failure = std::move(failure)](
                   const std::optional<URLRequest>&, const std::shared_ptr<const HTTPURLResponse>& response,
                   const Result<std::string>& result) { failure(transferError<E>(response, result)); };
    }
    uploadImage(url, std::move(imageData), std::move(pictureFormat), std::move(success), std::move(failed),
                std::move(encodeError));
  }

  // The same with the failure as the HTTP layer gives it.
  virtual void uploadImage(std::string_view url, Data imageData, std::string pictureFormat,
                           std::function<void()> success, AnswerHandler failure,
                           std::function<void(std::string)> encodeError);

  // The failure of an answer: the HTTP layer's error, the status when an answer came (401 for a
  // request unsent for want of a token), and the body decoded as E when it is UTF-8 text that E
  // accepts.
  template <TransferDecodable E>
  static TransferError<E> transferError(const std::shared_ptr<const HTTPURLResponse>& response,
                                        const Result<std::string>& result) {
    TransferError<E> error;
    error.error = result.error();
    if (result.data()) {
      if (auto text = stringFromData(*result.data(), StringEncoding::UTF8)) error.response = E::decode(*text);
    }
    if (response) {
      error.statusCode = response->statusCode();
    } else if (error.error && isNotSignedIn(*error.error)) {
      error.statusCode = kUnauthorizedStatus;
    }
    return error;
  }

  // The error of a request that was not sent because its token is missing.
  static NSError notSignedInError();
  static bool isNotSignedIn(const NSError& error) {
    return error.domain == TransferErrorDomain && error.code == static_cast<long>(TransferErrorCode::NotSignedIn);
  }
  static constexpr int kUnauthorizedStatus = 401;

 private:
  template <class T, class E>
  static AnswerHandler replyHandler(ReplyCompletion<T, E> completion) {
    if (!completion) return {};
    return [completion = std::move(completion)](const std::optional<URLRequest>&,
                                                const std::shared_ptr<const HTTPURLResponse>& response,
                                                const Result<std::string>& result) {
      if (result.isFailure()) {
        completion(std::nullopt, transferError<E>(response, result));
      } else {
        completion(decodeReply<T>(*result.value()), std::nullopt);
      }
    };
  }

  template <class T>
  struct IsList : std::false_type {};
  template <class Record>
  struct IsList<MappableArray<Record>> : std::true_type {};

  // A list reply must be a JSON array: a 2xx page from a proxy or a captive portal is no empty
  // list. The text is parsed once, here, rather than checked and then decoded again.
  template <class T>
  static std::optional<T> decodeReply(std::string_view text) {
    if constexpr (IsList<T>::value) {
      auto records = Mapper<typename T::value_type>().mapArrayIfArray(text);
      if (!records) return std::nullopt;
      return T(std::move(*records));
    } else {
      return T::decode(text);
    }
  }

  // Calls `proceed` with the headers that authorize a request under the signed-in method, or
  // `fail` with why it cannot go: NotSignedIn when its token is not stored. Nobody signed in counts
  // as no headers.
  void authorize(const std::shared_ptr<AuthenticationManaging>& manager, std::function<void(HTTPHeaderFields)> proceed,
                 std::function<void(NSError)> fail);

  std::shared_ptr<HTTPClient> client_;
  std::weak_ptr<AuthenticationManaging> authenticationManager_;
};
