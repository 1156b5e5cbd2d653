#include "backend/transfer_coordinator.h"

#include "backend/http_header.h"
#include "backend/request_log.h"
#include "platform/foundation/fatal_error.h"
#include "platform/foundation/run_loop.h"
#include "platform/http/multipart_form_data.h"

namespace {

// A request that was never sent still answers, on a later turn of the main loop.
void failUnsent(const TransferCoordinator::AnswerHandler& answer, NSError error) {
  if (!answer) return;
  RunLoop::main().post([answer, error = std::move(error)] {
    answer(std::nullopt, nullptr, Result<std::string>::failure(std::nullopt, error));
  });
}

std::function<void(NSError)> failingUnsent(TransferCoordinator::AnswerHandler answer) {
  return [answer = std::move(answer)](NSError error) { failUnsent(answer, std::move(error)); };
}

// A token that is empty, or that would break the header line it goes on, authorizes nothing.
bool usable(const std::optional<std::string>& token) {
  return token && !token->empty() && token->find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

HTTPHeaderFields authorizationHeaders(const std::string& token, const std::string& provider) {
  return {{HTTPHeader::authorization(), HTTPHeader::bearer() + token}, {HTTPHeader::authorizationProvider(), provider}};
}

NSError unusableTokenError() {
  return NSError(TransferErrorDomain, static_cast<long>(TransferErrorCode::UnusableToken),
                 {{NSLocalizedDescriptionKey, "The renewed token cannot authorize a request"}});
}

std::shared_ptr<AuthenticationManaging> requireManager(const TransferCoordinator& coordinator) {
  auto manager = coordinator.authenticationManager();
  if (!manager) fatalError("TransferCoordinator: authenticationManager is not set");
  return manager;
}

}  // namespace

TransferCoordinator::TransferCoordinator() : TransferCoordinator(HTTPClient::defaultClient()) {}

TransferCoordinator::TransferCoordinator(std::shared_ptr<HTTPClient> client) : client_(std::move(client)) {
  if (!client_) client_ = HTTPClient::defaultClient();
}

NSError TransferCoordinator::notSignedInError() {
  return NSError(TransferErrorDomain, static_cast<long>(TransferErrorCode::NotSignedIn),
                 {{NSLocalizedDescriptionKey, "Not signed in"}});
}

void TransferCoordinator::authorize(const std::shared_ptr<AuthenticationManaging>& manager,
                                    std::function<void(HTTPHeaderFields)> proceed, std::function<void(NSError)> fail) {
  const auto type = manager->authenticationType();
  if (!type) {
    proceed({});
    return;
  }
  if (*type == AuthenticationType::Zedodo) {
    // A fresh token for every request; a refresh that fails says itself whether the sign-in is over.
    manager->refreshZedodoToken(
        [proceed, fail](const std::string& token) {
          if (!usable(token)) return fail(unusableTokenError());
          proceed(authorizationHeaders(token, HTTPHeader::zedodoProvider()));
        },
        fail);
    return;
  }
  if (auto fbToken = manager->fbToken(); fbToken && *type == AuthenticationType::Facebook) {
    if (!usable(fbToken)) return fail(notSignedInError());
    proceed(authorizationHeaders(*fbToken, HTTPHeader::facebookProvider()));
  } else if (auto accessToken = manager->accessToken(); accessToken && *type == AuthenticationType::Basic) {
    if (!usable(accessToken)) return fail(notSignedInError());
    proceed(authorizationHeaders(*accessToken, HTTPHeader::basicProvider()));
  } else {
    fail(notSignedInError());
  }
}

void TransferCoordinator::sendRequest(Method method, std::string_view url, std::optional<std::string> body,
                                      bool authenticate, AnswerHandler answer) {
  URLRequest request;
  // Text that is no URL stays without one; the HTTP layer then fails it like any unsendable request.
  request.url = URL::URLWithString(url);
  request.httpMethod = rawValue(method);
  request.setValue(HTTPHeader::applicationJson(), HTTPHeader::contentType());
  if (body) request.httpBody = Data::fromString(*body);

  auto manager = requireManager(*this);
  if (!authenticate || !manager->authenticationType()) {
    processRequest(method, request, std::move(answer));
    return;
  }
  authorize(
      manager,
      [weak = weak_from_this(), method, request, answer](const HTTPHeaderFields& headers) {
        auto self = weak.lock();
        if (!self) return;
        URLRequest authorized = request;
        for (const auto& [name, value] : headers) authorized.setValue(value, name);
        self->processRequest(method, authorized, answer);
      },
      failingUnsent(answer));
}

void TransferCoordinator::processRequest(Method method, const URLRequest& request, AnswerHandler answer) {
  RequestLog::logRequest(RequestLog::processRequestFunction, method, request);
  client_->request(request)->validate()->responseString(
      StringEncoding::UTF8, [method, answer = std::move(answer)](const std::optional<URLRequest>& sent,
                                                                 const std::shared_ptr<const HTTPURLResponse>& response,
                                                                 const Result<std::string>& result) {
        RequestLog::logAnswer(RequestLog::processRequestFunction, method, sent, response, result);
        if (answer) answer(sent, response, result);
      });
}

void TransferCoordinator::downloadDataFromUrl(std::string_view url, DownloadCompletion completion) {
  client_->request(Method::GET, url)
      ->validate()
      ->response(nullptr, [completion = std::move(completion)](const std::optional<URLRequest>& sent,
                                                               const std::shared_ptr<const HTTPURLResponse>& response,
                                                               const std::optional<Data>& data,
                                                               const std::optional<NSError>& error) {
        RequestLog::logDownloadAnswer(sent, response, data, error);
        if (completion) completion(data, error);
      });
}

void TransferCoordinator::uploadImage(std::string_view url, Data imageData, std::string pictureFormat,
                                      std::function<void()> success, AnswerHandler failure,
                                      std::function<void(std::string)> encodeError) {
  auto manager = requireManager(*this);
  if (!manager->authenticationType()) {
    manager->logout();
    return;
  }
  auto upload = [weak = weak_from_this(), url = std::string(url), imageData = std::move(imageData),
                 pictureFormat = std::move(pictureFormat), success, failure,
                 encodeError = std::move(encodeError)](const HTTPHeaderFields& headers) {
    auto self = weak.lock();
    if (!self) return;
    auto form = [imageData, pictureFormat](MultipartFormData& multipart) {
      multipart.append(imageData, "file", "profilePic." + pictureFormat, "image/" + pictureFormat);
    };
    auto answered = [success, failure](const std::optional<URLRequest>& sent,
                                       const std::shared_ptr<const HTTPURLResponse>& response,
                                       const Result<std::string>& result) {
      if (sent) RequestLog::logRequest(RequestLog::uploadImageFunction, Method::POST, *sent);
      RequestLog::logAnswer(RequestLog::uploadImageFunction, Method::POST, sent, response, result);
      if (result.isFailure()) {
        if (failure) failure(sent, response, result);
      } else if (success) {
        success();
      }
    };
    self->client_->upload(Method::POST, url, headers, form, HTTPClient::MultipartFormDataEncodingMemoryThreshold,
                          [answered, encodeError](const HTTPClient::EncodingResult& encoding) {
                            if (!encoding.isSuccess()) {
                              if (encodeError) encodeError(encoding.error.value_or(NSError()).localizedDescription());
                              return;
                            }
                            encoding.request->validate()->responseString(std::nullopt, answered);
                          });
  };
  authorize(manager, std::move(upload), failingUnsent(std::move(failure)));
}
