#include "server.h"

#include <fmt/format.h>
#include <malloc.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <regex>

#include "api.h"
#include "media.h"
#include "query_text.h"
#include "request_checks.h"

using namespace sample_api;

namespace {

constexpr const char* kBase = "/BrevantTest/";
constexpr std::size_t kBodyCap = 8 << 20;
// For a call without a token (sign-in, registration, recovery, the providers' forms) or another
// method: what anybody may send takes little.
constexpr std::size_t kOpenBodyCap = 8 << 10;
// What a parsed body may hold, so that a body within the cap cannot take much more memory.
constexpr std::size_t kMaxJsonValues = 100000;
constexpr std::size_t kMaxJsonDepth = 64;
// What a parsed value takes at most beyond its text: the value, its entry in an object or array.
constexpr std::size_t kValueCost = 128;
// What a kept multipart part costs beyond its bytes: its entry and the texts of its head.
constexpr std::size_t kPartCost = 256;
// Blocks of this size or more are mapped apart, and unmapped when freed, rather than kept in the
// pools of the thread that freed them.
constexpr int kMapThreshold = 128 << 10;
// A call that held this much hands the memory of its small pieces back too.
constexpr std::size_t kTrimAfter = 1 << 20;

// Heads and bodies come in before a worker answers; the workers wait on answers and password hashes.
ConnectionFront::Limits frontLimits(const SampleServerSettings& settings) {
  ConnectionFront::Limits limits;
  limits.maxBody = kBodyCap;
  limits.maxHeld = settings.heldBodies;
  limits.workers = 128;
  return limits;
}

constexpr const char* kJsonType = "application/json; charset=utf-8";
// The most of a list answer that is made before it is written.
constexpr std::size_t kPiece = 64 << 10;

std::string jsonText(const json& value) {
  // Invalid UTF-8, in a path or header quoted in an error message or in a stored text, must not end
  // the answer.
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void sendJson(httplib::Response& response, int status, const json& body) {
  response.status = status;
  response.set_content(jsonText(body), kJsonType);
}

// A list answer made as it goes out, in pieces, with the text of the whole list as one value would
// have it; what it holds does not grow with the list.
class ListAnswer {
 public:
  explicit ListAnswer(ListSource source) : source_(std::move(source)) {}

  // Makes text until a piece of it is ready or the list is complete.
  void fill() {
    if (complete_ || text_.size() - sent_ >= kPiece) return;
    // Less than a piece is left to move.
    text_.erase(0, sent_);
    sent_ = 0;
    while (!complete_ && text_.size() < kPiece) {
      auto element = source_();
      if (!element) {
        text_ += started_ ? "]" : "[]";
        complete_ = true;
      } else {
        text_ += started_ ? ',' : '[';
        text_ += jsonText(*element);
      }
      started_ = true;
    }
  }
  // Writes the next piece; false when the client cannot take it.
  bool write(httplib::DataSink& sink) {
    fill();
    const std::size_t size = std::min(kPiece, text_.size() - sent_);
    if (size > 0 && !sink.write(text_.data() + sent_, size)) return false;
    sent_ += size;
    written_ += size;
    ConnectionFront::answerProgressed();
    if (complete_ && sent_ == text_.size()) sink.done();
    return true;
  }
  std::size_t written() const { return written_; }
  void release() {
    source_ = nullptr;
    std::string().swap(text_);
  }

 private:
  ListSource source_;
  std::string text_;
  std::size_t sent_ = 0;
  std::size_t written_ = 0;
  bool started_ = false;
  bool complete_ = false;
};

void sendError(httplib::Response& response, const ApiError& error) {
  if (error.code == kBusy) response.set_header("Retry-After", "1");
  sendJson(response, error.status, {{"errorMessage", error.message}, {"errorCode", error.code}});
}

ApiError tooLarge(const httplib::Request& request, std::size_t cap) {
  if (request.path.find("UploadProfilePicture") != std::string::npos)
    return {413, kBadRequest, "The picture is too large. Please choose one of at most 8 MiB."};
  return {413, kBadRequest,
          cap < (1 << 20) ? fmt::format("The request is too large: at most {} KiB", cap >> 10)
                          : fmt::format("The request is too large: at most {} MiB", cap >> 20)};
}

// Once the first piece is out a failure can no longer be told: the connection ends without the
// last chunk, so the client sees a failed transfer rather than a shorter list.
void sendList(httplib::Response& response, std::shared_ptr<ListAnswer> answer, std::string call) {
  response.status = 200;
  response.set_chunked_content_provider(
      kJsonType,
      [answer, call = std::move(call)](std::size_t, httplib::DataSink& sink) {
        try {
          return answer->write(sink);
        } catch (const std::exception& error) {
          std::cerr << call << " failed: " << error.what() << std::endl;
        } catch (...) {
          std::cerr << call << " failed" << std::endl;
        }
        return false;
      },
      [answer](bool) {
        answer->release();
        if (answer->written() >= kTrimAfter) malloc_trim(0);
      });
}

const ApiError kNoRoom{503, kBusy,
                     "The sample backend holds as much of other calls' data as it may. Please try again in a moment."};

// Not busy: no retry can be answered, the backend stops.
const ApiError kDirGone{503, kInternal,
                        "The sample backend's data directory was removed, so nothing was saved. Start the sample "
                        "backend again."};

// After routing the library has made the answer's head from what the handler set (its length, or
// chunks for a list): the whole answer is made anew.
void answerGone(httplib::Response& response) {
  response = httplib::Response();
  sendError(response, kDirGone);
  response.set_header("Content-Length", std::to_string(response.body.size()));
  response.set_header("Connection", "close");
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
  std::size_t values() const { return values_; }

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

// The parse holds the lexer's copy of the longest text, then the values and their texts.
json parseBody(const std::string& body, ByteBudget::Share& share) {
  if (!share.grow(body.size())) throw kNoRoom;
  JsonBounds bounds;
  json::sax_parse(body, &bounds);
  if (bounds.exceeded) throw ApiError{413, kBadRequest, "The request holds too many values or nests too deep"};
  if (!share.grow(bounds.values() * kValueCost + body.size())) throw kNoRoom;
  json parsed = json::parse(body, nullptr, false);
  if (parsed.is_discarded()) badRequest("The body is not JSON");
  return parsed;
}

// Reads the body into `whole`, counting what it keeps against `cap` and the budget: a part's
// name, file name, type and entry too. What the front held goes as it is read. The refusal when
// it does not fit or cannot be read.
std::optional<ApiError> readBody(const httplib::Request& request, const httplib::ContentReader& reader,
                                 httplib::Request& whole, ByteBudget::Share& share, std::size_t cap) {
  std::size_t size = 0;
  std::optional<ApiError> refusal;
  const auto fits = [&](std::size_t length) {
    if ((size += length) > cap) refusal = tooLarge(request, cap);
    else if (!share.grow(length)) refusal = kNoRoom;
    return !refusal;
  };
  bool read = false;
  if (!request.is_multipart_form_data()) {
    whole.body.reserve(ConnectionFront::heldBodyBytes());
    read = reader(
        [&](const char* data, std::size_t length) { return fits(length) && (whole.body.append(data, length), true); });
  } else {
    auto part = whole.files.end();
    read = reader(
        [&](const httplib::MultipartFormData& file) {
          if (!fits(kPartCost + file.name.size() + file.filename.size() + file.content_type.size())) return false;
          part = whole.files.emplace(file.name, file);
          return true;
        },
        [&](const char* data, std::size_t length) {
          return fits(length) && (part->second.content.append(data, length), true);
        });
  }
  if (!read && !refusal) refusal = ApiError{400, kBadRequest, "The body could not be read"};
  return refusal;
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
    : dir_(dataDir),
      store_(dir_.path() / "sample_backend.sqlite3", settings.store),
      zedodo_(store_, settings.zedodoTokenLifetime),
      http_(frontLimits(settings), [this](const httplib::Request& head) { return admittedBody(head); }) {
  mallopt(M_MMAP_THRESHOLD, kMapThreshold);
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
             [this, handler = std::move(handler), admit = std::move(admit)](
                 const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader) {
               receive(request, response, reader, handler, admit);
             });
}

void SampleServer::receive(const httplib::Request& request, httplib::Response& response,
                           const httplib::ContentReader& reader, const httplib::Server::Handler& handler,
                           const std::function<void(const httplib::Request&)>& admit) {
  const auto refuse = [&response](const ApiError& error) {
    // The body stays unread, so the connection can carry no further call.
    response.set_header("Connection", "close");
    sendError(response, error);
  };
  try {
    if (admit) admit(request);
  } catch (const ApiError& error) {
    return refuse(error);
  }
  using Body = ConnectionFront::Body;
  const Body body = ConnectionFront::body();
  if (body == Body::noRoom) return refuse(kNoRoom);
  if (body != Body::none && body != Body::held) return refuse(tooLarge(request, bodyCap(request)));
  std::size_t held = 0;
  {
    ByteBudget::Share share(http_.budget());
    httplib::Request whole = request;
    if (auto refusal = readBody(request, reader, whole, share, bodyCap(request))) return refuse(*refusal);
    handler(whole, response);
    held = share.size();
  }
  if (held >= kTrimAfter) malloc_trim(0);
}

void SampleServer::admit(const httplib::Request& request) {
  const auto found = api_.find(request.method + " " + std::string(request.matches[1]));
  if (found != api_.end() && found->second->authorized) authorize(request);
}

std::size_t SampleServer::bodyCap(const httplib::Request& head) const {
  const std::string_view path = head.path;
  if (head.method != "POST" || path.substr(0, std::strlen(kBase)) != kBase) return kOpenBodyCap;
  const auto found = api_.find("POST " + std::string(path.substr(std::strlen(kBase))));
  return found != api_.end() && found->second->authorized ? kBodyCap : kOpenBodyCap;
}

std::size_t SampleServer::admittedBody(const httplib::Request& head) {
  const std::size_t cap = bodyCap(head);
  if (cap == kOpenBodyCap) return cap;
  try {
    authorize(head);
  } catch (const ApiError&) {
    return 0;
  }
  return cap;
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
    ByteBudget::Share parsed(http_.budget());
    if (!request.body.empty() && !request.is_multipart_form_data()) {
      // Else a web page could post here as a form, which needs no preflight.
      if (!isJson(request.get_header_value("Content-Type")))
        throw ApiError{415, kBadRequest, "Send the body as application/json"};
      call.body = parseBody(request.body, parsed);
    }
    if (found->second->authorized) call.accountId = authorize(request);
    Backend backend{store_, catalog_, zedodo_};
    if (found->second->list) {
      auto answer = std::make_shared<ListAnswer>(found->second->list(backend, call));
      // Before the first byte, a failure is still an error answer.
      answer->fill();
      return sendList(response, std::move(answer), request.method + " " + request.path);
    }
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

bool SampleServer::dirGone() {
  if (gone_) return true;
  auto why = dir_.whyGone();
  if (!why) return false;
  std::lock_guard lock(goneMutex_);
  if (!whyGone_) whyGone_ = std::move(why);
  gone_ = true;
  return true;
}

std::optional<std::string> SampleServer::dataDirGone() const {
  std::lock_guard lock(goneMutex_);
  return whyGone_;
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

  // Every call passes both: before it is routed, since a pooled connection would open the store by
  // its path in whatever now stands there; and once what it saved committed, before it is answered.
  http_.set_pre_routing_handler([this](const httplib::Request&, httplib::Response& response) {
    if (!dirGone()) return httplib::Server::HandlerResponse::Unhandled;
    // Answered after routing.
    response.status = kDirGone.status;
    return httplib::Server::HandlerResponse::Handled;
  });
  http_.set_post_routing_handler([this](const httplib::Request&, httplib::Response& response) {
    if (dirGone()) answerGone(response);
  });
  http_.set_payload_max_length(kBodyCap);
  // Whatever no route took (another path, another method) gets an error body too.
  http_.set_error_handler([this](const httplib::Request& request, httplib::Response& response) {
    if (!response.body.empty()) return;
    if (response.status == 413) return sendError(response, tooLarge(request, bodyCap(request)));
    sendError(response, {response.status, response.status == 404 ? kNotFound : kBadRequest,
                         fmt::format("Cannot {} {}", request.method, request.path)});
  });
  http_.set_logger([this](const httplib::Request& request, const httplib::Response& response) {
    if (response.get_header_value("Connection") == "close") ConnectionFront::closeAfterAnswer();
    std::cerr << request.method << ' ' << request.path << " -> " << response.status << std::endl;
    // Once its answer is out; stop() does not wait for the workers.
    if (gone_) http_.stop();
  });
}
