#include "zedodo_provider.h"

#include <fmt/format.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <ctime>
#include <nlohmann/json.hpp>

#include "query_text.h"
#include "request_checks.h"

namespace {

using json = nlohmann::json;

constexpr const char* kEmail = "jordan.park@example.com";
constexpr const char* kGivenName = "Jordan";
constexpr const char* kFamilyName = "Park";
constexpr std::chrono::seconds kCodeLifetime{600};

// Wall-clock time, which a restart keeps.
std::int64_t unixNow() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::string webSafeBase64(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (unsigned char c : bytes) {
    bits = (bits << 8) | c;
    count += 8;
    while (count >= 6) out += kAlphabet[(bits >> (count -= 6)) & 0x3F];
  }
  if (count > 0) out += kAlphabet[(bits << (6 - count)) & 0x3F];
  return out;
}

std::string sha256(std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string randomToken(const char* kind) {
  unsigned char bytes[24];
  RAND_bytes(bytes, sizeof bytes);
  return std::string(kind) + "." + webSafeBase64(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
}

void sendJson(httplib::Response& response, int status, const json& body) {
  response.status = status;
  response.set_header("Cache-Control", "no-store");
  response.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

void refuse(httplib::Response& response, int status, const char* error, const std::string& description) {
  sendJson(response, status, {{"error", error}, {"error_description", description}});
}

std::string field(const httplib::Params& form, const char* name) {
  const auto found = form.find(name);
  return found == form.end() ? std::string() : found->second;
}

bool liveGrant(const ZedodoToken& token, const std::string& clientID) {
  return !token.revoked && constantTimeEquals(token.clientID, clientID);
}

httplib::Params formOf(const httplib::Request& request) {
  httplib::Params form;
  httplib::detail::parse_query_text(request.body, form);
  return form;
}

}  // namespace

ZedodoProvider::ZedodoProvider(Store& store, std::chrono::seconds tokenLifetime, std::function<std::int64_t()> now)
    : store_(store), tokenLifetime_(tokenLifetime), now_(now ? std::move(now) : unixNow) {}

void ZedodoProvider::addRoutes(httplib::Server& http, const PostRoute& post) {
  http.Get("/zedodo/o/oauth2/auth", [this](const auto& request, auto& response) { authorize(request, response); });
  post("/zedodo/o/oauth2/token", [this](const auto& request, auto& response) { token(request, response); });
  post("/zedodo/o/oauth2/revoke", [this](const auto& request, auto& response) { revoke(request, response); });
  http.Get("/zedodo/oauth2/v3/userinfo", [this](const auto& request, auto& response) { userInfo(request, response); });
}

// The person agrees at once: back to the client with a code, or with why not.
void ZedodoProvider::authorize(const httplib::Request& request, httplib::Response& response) {
  const std::string clientID = request.get_param_value("client_id");
  const std::string back = request.get_param_value("redirect_uri");
  // Without a client or a safe address to go back to, there is nobody to tell.
  if (clientID.empty() || !isLoopbackHttpUrl(back))
    return refuse(response, 400, "invalid_request", "client_id and a loopback redirect_uri are required");
  const std::string state = request.get_param_value("state");
  const auto answer = [&](const std::string& query) {
    response.set_redirect(fmt::format("{}{}{}&state={}", back, back.find('?') == std::string::npos ? "?" : "&", query,
                                      queryEncoded(state)));
  };
  if (request.get_param_value("response_type") != "code") return answer("error=unsupported_response_type");
  const std::string challenge = request.get_param_value("code_challenge");
  // A challenge without its method would be taken as the verifier itself; a public client must
  // prove it holds the verifier.
  if (challenge.empty() || request.get_param_value("code_challenge_method") != "S256")
    return answer("error=invalid_request&error_description=" + queryEncoded("PKCE with S256 is required"));

  const std::string code = randomToken("code");
  store_.addZedodoGrant(code, {clientID, back, challenge, 0, now_() + kCodeLifetime.count()});
  answer("code=" + queryEncoded(code));
}

void ZedodoProvider::token(const httplib::Request& request, httplib::Response& response) {
  const auto form = formOf(request);
  // A public client has no secret; one that sends one is not the client registered.
  if (form.count("client_secret"))
    return refuse(response, 401, "invalid_client", "This client is public and has no secret");
  if (field(form, "client_id").empty()) return refuse(response, 401, "invalid_client", "client_id is missing");
  const std::string grantType = field(form, "grant_type");
  if (grantType == "authorization_code") return exchangeCode(form, response);
  if (grantType == "refresh_token") return refresh(form, response);
  refuse(response, 400, "unsupported_grant_type", "Use authorization_code or refresh_token");
}

void ZedodoProvider::exchangeCode(const httplib::Params& form, httplib::Response& response) {
  std::lock_guard lock(mutex_);
  const auto code = store_.useZedodoCode(field(form, "code"));
  if (!code) return refuse(response, 400, "invalid_grant", "The code is not valid");
  if (code->used) {
    // A code used twice was seen by someone else: what it gave is withdrawn.
    store_.revokeZedodoGrant(code->grant);
    return refuse(response, 400, "invalid_grant", "The code was used already");
  }
  if (!constantTimeEquals(field(form, "client_id"), code->clientID) || field(form, "redirect_uri") != code->redirectURI)
    return refuse(response, 400, "invalid_grant", "The code was issued to another client or redirect_uri");
  if (!constantTimeEquals(webSafeBase64(sha256(field(form, "code_verifier"))), code->challenge))
    return refuse(response, 400, "invalid_grant", "The code_verifier does not match the code_challenge");
  issueTokens(code->grant, code->clientID, response);
}

void ZedodoProvider::refresh(const httplib::Params& form, httplib::Response& response) {
  std::lock_guard lock(mutex_);
  const std::string refreshToken = field(form, "refresh_token");
  const auto found = store_.zedodoRefreshToken(refreshToken);
  if (!found || !liveGrant(*found, field(form, "client_id")))
    return refuse(response, 400, "invalid_grant", "The refresh token is not valid");
  if (found->used) {
    // A renewal retried after its answer was lost gets that answer again.
    const auto rotation = rotations_.find(sha256(refreshToken));
    if (rotation != rotations_.end() && now_() - rotation->second.at <= kReuseInterval.count()) {
      auto answer = rotation->second.answer;
      answer["expires_in"] = std::max<std::int64_t>(0, rotation->second.expires - now_());
      return sendJson(response, 200, answer);
    }
    // Later, a rotated token coming back means two holders: end the grant for both.
    store_.revokeZedodoGrant(found->grant);
    return refuse(response, 400, "invalid_grant", "The refresh token was used already");
  }
  issueTokens(found->grant, field(form, "client_id"), response, refreshToken);
}

void ZedodoProvider::issueTokens(std::int64_t grant, const std::string& clientID, httplib::Response& response,
                                 const std::string& spent) {
  const std::string access = randomToken("access");
  const std::string refreshToken = randomToken("refresh");
  const std::int64_t issued = now_();
  const std::int64_t expires = issued + tokenLifetime_.count();
  store_.issueZedodoTokens(grant, access, expires, refreshToken, spent);
  const json claims = {
      {"iss", "zedodo"}, {"aud", clientID}, {"sub", kSubject}, {"email", kEmail}, {"email_verified", true}};
  const std::string idToken =
      webSafeBase64(R"({"alg":"none"})") + "." + webSafeBase64(claims.dump()) + "." + webSafeBase64("unsigned");
  const json answer = {{"access_token", access},
                       {"refresh_token", refreshToken},
                       {"expires_in", tokenLifetime_.count()},
                       {"token_type", "Bearer"},
                       {"id_token", idToken}};
  if (!spent.empty()) {
    std::erase_if(rotations_, [&](const auto& each) { return issued - each.second.at > kReuseInterval.count(); });
    rotations_[sha256(spent)] = {issued, expires, answer};
  }
  sendJson(response, 200, answer);
}

std::optional<std::string> ZedodoProvider::subjectOfAccessToken(const std::string& token) {
  const auto found = store_.zedodoAccessToken(token);
  if (!found || found->expires < now_() || found->revoked) return std::nullopt;
  return kSubject;
}

void ZedodoProvider::userInfo(const httplib::Request& request, httplib::Response& response) {
  const std::string authorization = request.get_header_value("Authorization");
  if (authorization.rfind("Bearer ", 0) != 0 || !subjectOfAccessToken(authorization.substr(7)))
    return refuse(response, 401, "invalid_token", "The access token is not valid");
  const std::string picture =
      "http://" + request.get_header_value("Host") + "/BrevantTest/Media/zedodo-" + kSubject + ".png";
  sendJson(response, 200,
           {{"sub", kSubject},
            {"email", kEmail},
            {"email_verified", true},
            {"name", fmt::format("{} {}", kGivenName, kFamilyName)},
            {"given_name", kGivenName},
            {"family_name", kFamilyName},
            {"picture", picture}});
}

void ZedodoProvider::revoke(const httplib::Request& request, httplib::Response& response) {
  const auto form = formOf(request);
  // A public client says who it is, or anyone holding a token could end its grant.
  if (field(form, "client_id").empty()) return refuse(response, 400, "invalid_request", "client_id is missing");
  std::lock_guard lock(mutex_);
  const std::string token = field(form, "token");
  for (const auto& found : {store_.zedodoRefreshToken(token), store_.zedodoAccessToken(token)})
    if (found && liveGrant(*found, field(form, "client_id"))) store_.revokeZedodoGrant(found->grant);
  response.status = 200;
}
