#include "server.h"

#include <fmt/format.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <regex>

#include "api.h"
#include "data_dir.h"
#include "media.h"
#include "query_text.h"
#include "request_checks.h"

using namespace sample_api;

namespace {

constexpr const char* kBase = "/BrevantTest/";
constexpr std::size_t kBodyCap = 8 << 20;
// What a parsed body may hold, so that a body within the cap cannot take much more memory.
constexpr std::size_t kMaxJsonValues = 100000;
constexpr std::size_t kMaxJsonDepth = 64;
// What a kept multipart part costs beyond its bytes: its entry and the texts of its head.
constexpr std::size_t kPartCost = 256;

// Heads come in before a worker is taken; the workers wait on bodies, answers and password hashes.
ConnectionFront::Limits frontLimits() {
  ConnectionFront::Limits limits;
  limits.maxBody = kBodyCap;
  limits.workers = 128;
  return limits;
}

void sendJson(httplib::Response& response, int status, const json& body) {
  response.status = status;
  // A path or header of invalid UTF-8 quoted in an error message must not end the answer.
  response.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json; charset=utf-8");
}

void sendError(httplib::Response& response, const ApiError& error) {
  sendJson(response, error.status, {{"errorMessage", error.message}, {"errorCode", error.code}});
}

void sendTooLarge(const httplib::Request& request, httplib::Response& response) {
  const bool picture = request.path.find("UploadProfilePicture") != std::string::npos;
  sendError(response, {413, kBadRequest,
                       picture ? "The picture is too large. Please choose one of at most 8 MiB."
                               : "The request is too large: at most 8 MiB"});
}

// Counts what a JSON text holds without building it.
class JsonBounds : public nlohmann::json_sax<json> {
 public:
  bool null() override { return value(); }
  bool boolean(bool) override { return value(); }
  bool number_integer(number_integer_t) override { return value(); }
  bool number_unsigned(number_unsigned_t) override { return value(); }
  bool number_float(number_float_t, const string_t&) override { return value(); }
  bool string(string_t&) override { return value(); }
  bool binary(binary_t&) override { return value(); }
  bool start_object(std::size_t) override { return open(); }
  bool key(string_t&) override { return value(); }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

  bool exceeded = false;

 private:
  bool value() { return !(exceeded = exceeded || ++values_ > kMaxJsonValues); }
  bool open() { return value() && !(exceeded = ++depth_ > kMaxJsonDepth); }
  bool close() {
    --depth_;
    return true;
  }
  std::size_t values_ = 0;
  std::size_t depth_ = 0;
};

json parseBody(const std::string& body) {
  JsonBounds bounds;
  json::sax_parse(body, &bounds);
  if (bounds.exceeded) throw ApiError{413, kBadRequest, "The request holds too many values or nests too deep"};
  json parsed = json::parse(body, nullptr, false);
  if (parsed.is_discarded()) badRequest("The body is not JSON");
  return parsed;
}

// Reads the body into `whole`, counting what it keeps against the cap: a part's name, file name,
// type and entry too. False past the cap, or when the body cannot be read.
bool readBody(const httplib::Request& request, const httplib::ContentReader& reader, httplib::Request& whole) {
  std::size_t size = 0;
  const auto fits = [&size](std::size_t length) { return (size += length) <= kBodyCap; };
  if (!request.is_multipart_form_data())
    return reader(
        [&](const char* data, std::size_t length) { return fits(length) && (whole.body.append(data, length), true); });
  auto part = whole.files.end();
  return reader(
      [&](const httplib::MultipartFormData& file) {
        if (!fits(kPartCost + file.name.size() + file.filename.size() + file.content_type.size())) return false;
        part = whole.files.emplace(file.name, file);
        return true;
      },
      [&](const char* data, std::size_t length) {
        return fits(length) && (part->second.content.append(data, length), true);
      });
}

// Reads a call's body, once `admit` (when given) lets it in by its head, and hands it on.
void receive(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader,
             const httplib::Server::Handler& handler, const std::function<void(const httplib::Request&)>& admit) {
  try {
    if (admit) admit(request);
  } catch (const ApiError& error) {
    // The body stays unread, so the connection can carry no further call.
    response.set_header("Connection", "close");
    return sendError(response, error);
  }
  // Counted as it arrives: a chunked body has no length to refuse it by beforehand.
  httplib::Request whole = request;
  if (!readBody(request, reader, whole)) {
    response.set_header("Connection", "close");
    return sendTooLarge(request, response);
  }
  handler(whole, response);
}

bool isJson(const std::string& contentType) {
  std::string type = contentType.substr(0, contentType.find(';'));
  type.erase(type.find_last_not_of(" \t") + 1);
  std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::tolower(c); });
  return type == "application/json";
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
  if (!isLoopbackHttpUrl(back))
    return sendError(response, {400, kBadRequest, "\"redirect_uri\" must be a loopback http address"});
  response.set_redirect(fmt::format("{}#state={}&access_token={}&user_id={}&expires_in=5184000", back,
                                    queryEncoded(request.get_param_value("state")), kFacebookPerson.token,
                                    kFacebookPerson.id));
}

void facebookMe(const httplib::Request& request, httplib::Response& response) {
  if (!constantTimeEquals(request.get_param_value("access_token"), kFacebookPerson.token))
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

SampleServer::SampleServer(const std::filesystem::path& dataDir, const SampleServerSettings& settings)
    : store_((std::filesystem::create_directories(dataDir), dataDir / "sample_backend.sqlite3"), settings.store),
      zedodo_(store_, settings.zedodoTokenLifetime),
      http_(frontLimits()) {
  makePrivate(dataDir);
  if (!store_.accountByEmail(kDemoEmail))
    store_.createAccount({0, kDemoEmail, "Alex", "Morgan", true},
                         PasswordHash::of(kDemoPassword, settings.store.passwordIterations), {1});
  routes();
}

int SampleServer::bind(int port) {
  int listening = -1;
  http_.set_socket_options([&listening](int fd) {
    listening = fd;
    httplib::default_socket_options(fd);
  });
  const int bound = port == 0 ? http_.bind_to_any_port("127.0.0.1") : http_.bind_to_port("127.0.0.1", port) ? port : -1;
  if (bound <= 0) return bound;
  // The library's queue of 5 drops connections that come in a burst; the client retries a second later.
  ::listen(listening, SOMAXCONN);
  return bound;
}

void SampleServer::post(const char* pattern, httplib::Server::Handler handler,
                        std::function<void(const httplib::Request&)> admit) {
  http_.Post(pattern,
             [handler = std::move(handler), admit = std::move(admit)](
                 const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader) {
               receive(request, response, reader, handler, admit);
             });
}

void SampleServer::admit(const httplib::Request& request) {
  const auto found = api_.find(request.method + " " + std::string(request.matches[1]));
  if (found != api_.end() && found->second->authorized) authorize(request);
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
  try {
    const auto found = api_.find(request.method + " " + path);
    if (found == api_.end()) throw ApiError{404, kNotFound, "There is no call " + request.method + " " + path};
    Call call{request, nullptr, 0, "http://" + request.get_header_value("Host") + kBase};
    if (!request.body.empty() && !request.is_multipart_form_data()) {
      // Else a web page could post here as a form, which needs no preflight.
      if (!isJson(request.get_header_value("Content-Type")))
        throw ApiError{415, kBadRequest, "Send the body as application/json"};
      call.body = parseBody(request.body);
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
    std::cerr << request.method << ' ' << request.path << " failed: " << error.what() << std::endl;
    sendError(response, {500, kInternal, "The sample backend failed on this call; its log tells why"});
  }
}

void SampleServer::document(const httplib::Request& request, httplib::Response& response) {
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
  auto picture = store_.picture(std::stoll(request.matches[1]));
  if (!picture) return sendError(response, {404, kNotFound, "There is no such picture"});
  response.set_content(picture->bytes, ("image/" + picture->format).c_str());
}

void SampleServer::routes() {
  for (auto area : {accountRoutes(), contentRoutes(), resultRoutes()})
    for (const Route& route : area) api_[std::string(route.method) + " " + route.path] = &route;
  auto dispatcher = [this](const auto& request, auto& response) { dispatch(request, response); };
  post(R"(/BrevantTest/(.*))", dispatcher, [this](const httplib::Request& request) { admit(request); });
  http_.Get(R"(/BrevantTest/(Tablet/Get(?:UserProfile|Schools)))", dispatcher);
  http_.Get(R"(/BrevantTest/Tablet/GetDocument)",
            [this](const auto& request, auto& response) { document(request, response); });
  http_.Get(R"(/BrevantTest/Media/([^/]+))", mediaFile);
  http_.Get(R"(/BrevantTest/Account/ProfilePicture/(\d{1,9}))",
            [this](const auto& request, auto& response) { profilePicture(request, response); });

  http_.Get("/facebook/dialog/oauth", facebookDialog);
  http_.Get(R"(/facebook/graph/(?:v[0-9.]+/)?me)", facebookMe);
  http_.Get(R"(/facebook/graph/(?:v[0-9.]+/)?([0-9]+)/picture)", facebookPicture);

  zedodo_.addRoutes(
      http_, [this](const char* pattern, httplib::Server::Handler handler) { post(pattern, std::move(handler)); });

  http_.set_payload_max_length(kBodyCap);
  // Whatever no route took (another path, another method) gets an error body too.
  http_.set_error_handler([](const httplib::Request& request, httplib::Response& response) {
    if (!response.body.empty()) return;
    if (response.status == 413) return sendTooLarge(request, response);
    sendError(response, {response.status, response.status == 404 ? kNotFound : kBadRequest,
                         fmt::format("Cannot {} {}", request.method, request.path)});
  });
  http_.set_logger([](const httplib::Request& request, const httplib::Response& response) {
    if (response.get_header_value("Connection") == "close") ConnectionFront::closeAfterAnswer();
    std::cerr << request.method << ' ' << request.path << " -> " << response.status << std::endl;
  });
}
