#include "server.h"

#include <fmt/format.h>

#include <iostream>
#include <regex>

#include "api.h"
#include "media.h"
#include "query_text.h"

using namespace sample_api;

namespace {

constexpr const char* kBase = "/BrevantTest/";

void sendJson(httplib::Response& response, int status, const json& body) {
  response.status = status;
  // A path or header of invalid UTF-8 quoted in an error message must not end the answer.
  response.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json; charset=utf-8");
}

void sendError(httplib::Response& response, const ApiError& error) {
  sendJson(response, error.status, {{"errorMessage", error.message}, {"errorCode", error.code}});
}

// The one person the fake Facebook dialog signs in. The token stays the same from one sign-in to
// the next, since accounts are linked to the token.
struct FacebookPerson {
  const char* id;
  const char* firstName;
  const char* lastName;
  const char* email;
  const char* token;
};
constexpr FacebookPerson kFacebookPerson{"1001", "Robin", "Hale", "robin.hale@example.com",
                                         "sample-facebook-token-1001"};

// Files: fetched without authorization, as the client's downloads and picture loads are.
void mediaFile(const httplib::Request& request, httplib::Response& response) {
  auto file = generateMedia(request.matches[1]);
  if (!file) return sendError(response, {404, kNotFound, "There is no such file"});
  response.set_content(file->bytes, file->contentType.c_str());
}

// A fake Facebook: the login dialog answers at once for its one person, as a browser's redirect
// back to the application's loopback address with the token in the fragment, where a token
// answer comes; the Graph API knows that person's token.
void facebookDialog(const httplib::Request& request, httplib::Response& response) {
  if (request.get_param_value("client_id").empty())
    return sendError(response, {400, kBadRequest, "\"client_id\" is missing"});
  const std::string back = request.get_param_value("redirect_uri");
  if (back.rfind("http://127.0.0.1:", 0) != 0 || back.find('#') != std::string::npos)
    return sendError(response, {400, kBadRequest, "\"redirect_uri\" must be a loopback http address"});
  response.set_redirect(fmt::format("{}#state={}&access_token={}&user_id={}&expires_in=5184000", back,
                                    queryEncoded(request.get_param_value("state")), kFacebookPerson.token,
                                    kFacebookPerson.id));
}

void facebookMe(const httplib::Request& request, httplib::Response& response) {
  if (request.get_param_value("access_token") != kFacebookPerson.token)
    return sendJson(response, 400, {{"error", {{"message", "Invalid OAuth access token."}, {"code", 190}}}});
  sendJson(response, 200,
           {{"id", kFacebookPerson.id},
            {"first_name", kFacebookPerson.firstName},
            {"last_name", kFacebookPerson.lastName},
            {"email", kFacebookPerson.email}});
}

void facebookPicture(const httplib::Request& request, httplib::Response& response) {
  auto file = generateMedia(fmt::format("facebook-{}.png", std::string(request.matches[1])));
  response.set_content(file->bytes, file->contentType.c_str());
}

}  // namespace

SampleServer::SampleServer(const std::filesystem::path& dataDir, std::chrono::seconds zedodoTokenLifetime)
    : store_((std::filesystem::create_directories(dataDir), dataDir / "sample_backend.sqlite3")),
      zedodo_(zedodoTokenLifetime) {
  if (!store_.accountByEmail(kDemoEmail))
    store_.createAccount({0, kDemoEmail, "Alex", "Morgan", true}, kDemoPassword, {1});
  routes();
}

int SampleServer::bind(int port) {
  if (port == 0) return http_.bind_to_any_port("127.0.0.1");
  return http_.bind_to_port("127.0.0.1", port) ? port : -1;
}

Id SampleServer::authorize(const httplib::Request& request) {
  const std::string authorization = request.get_header_value("Authorization");
  const std::string provider = request.get_header_value("Authorization-Provider");
  if (authorization.rfind("Bearer ", 0) != 0 || authorization.size() == 7)
    throw ApiError{401, kUnauthorized, "Sign in first"};
  if (provider != "basic" && provider != "facebook" && provider != "zedodo")
    throw ApiError{401, kUnauthorized, "Unknown sign-in provider"};
  Backend backend{store_, catalog_, zedodo_};
  auto account = store_.accountForToken(
      provider, provider == "basic" ? authorization.substr(7) : linkKey(backend, provider, authorization.substr(7)));
  // An unknown provider token is a person without an account: the client offers registration.
  if (!account && provider != "basic")
    throw ApiError{401, kMustRegister, fmt::format("No account uses this {} sign-in yet; register first", provider)};
  if (!account) throw ApiError{401, kUnauthorized, "The session has ended; sign in again"};
  return *account;
}

void SampleServer::dispatch(const httplib::Request& request, httplib::Response& response) {
  const std::string path = request.matches[1];
  std::lock_guard lock(mutex_);
  try {
    const auto found = api_.find(request.method + " " + path);
    if (found == api_.end()) throw ApiError{404, kNotFound, "There is no call " + request.method + " " + path};
    Call call{request, nullptr, 0, "http://" + request.get_header_value("Host") + kBase};
    if (!request.body.empty() && !request.is_multipart_form_data()) {
      call.body = json::parse(request.body, nullptr, false);
      if (call.body.is_discarded()) badRequest("The body is not JSON");
    }
    if (found->second->authorized) call.accountId = authorize(request);
    Backend backend{store_, catalog_, zedodo_};
    json reply = found->second->handler(backend, call);
    response.status = 200;
    if (!reply.is_null()) sendJson(response, 200, reply);
  } catch (const ApiError& error) {
    sendError(response, error);
  } catch (const json::exception& error) {
    sendError(response, {400, kBadRequest, error.what()});
  } catch (const std::exception& error) {
    sendError(response, {500, kInternal, error.what()});
  }
}

void SampleServer::document(const httplib::Request& request, httplib::Response& response) {
  std::lock_guard lock(mutex_);
  static const std::regex reference(R"(~(\d{1,9}))");
  std::smatch match;
  const std::string p = request.get_param_value("p");
  const json* found = std::regex_match(p, match, reference) ? catalog_.document(std::stoll(match[1])) : nullptr;
  if (!found) return sendError(response, {404, kNotFound, "There is no such document"});
  response.set_header("Content-Disposition",
                      fmt::format("attachment; filename=\"{}\"", (*found)["fileName"].get<std::string>()));
  response.set_content((*found)["text"].get<std::string>(), "text/plain; charset=utf-8");
}

void SampleServer::profilePicture(const httplib::Request& request, httplib::Response& response) {
  std::lock_guard lock(mutex_);
  auto picture = store_.picture(std::stoll(request.matches[1]));
  if (!picture) return sendError(response, {404, kNotFound, "There is no such picture"});
  response.set_content(picture->bytes, ("image/" + picture->format).c_str());
}

void SampleServer::routes() {
  for (auto area : {accountRoutes(), contentRoutes(), resultRoutes()})
    for (const Route& route : area) api_[std::string(route.method) + " " + route.path] = &route;
  auto dispatcher = [this](const auto& request, auto& response) { dispatch(request, response); };
  http_.Post(R"(/BrevantTest/(.*))", dispatcher);
  http_.Get(R"(/BrevantTest/(Tablet/Get(?:UserProfile|Schools)))", dispatcher);
  http_.Get(R"(/BrevantTest/Tablet/GetDocument)",
            [this](const auto& request, auto& response) { document(request, response); });
  http_.Get(R"(/BrevantTest/Media/([^/]+))", mediaFile);
  http_.Get(R"(/BrevantTest/Account/ProfilePicture/(\d{1,9}))",
            [this](const auto& request, auto& response) { profilePicture(request, response); });

  http_.Get("/facebook/dialog/oauth", facebookDialog);
  http_.Get(R"(/facebook/graph/(?:v[0-9.]+/)?me)", facebookMe);
  http_.Get(R"(/facebook/graph/(?:v[0-9.]+/)?([0-9]+)/picture)", facebookPicture);

  zedodo_.addRoutes(http_);

  http_.set_payload_max_length(8 << 20);
  // Whatever no route took (another path, another method) gets an error body too.
  http_.set_error_handler([](const httplib::Request& request, httplib::Response& response) {
    if (!response.body.empty()) return;
    sendError(response, {response.status, response.status == 404 ? kNotFound : kBadRequest,
                         fmt::format("Cannot {} {}", request.method, request.path)});
  });
  http_.set_logger([](const httplib::Request& request, const httplib::Response& response) {
    std::cerr << request.method << ' ' << request.path << " -> " << response.status << std::endl;
  });
}
