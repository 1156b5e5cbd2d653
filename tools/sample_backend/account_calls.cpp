// Account calls: sign-in, registration, passwords, linked providers and the profile picture.
#include <fmt/format.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cctype>

#include "api.h"

namespace sample_api {
namespace {

constexpr const char* kEmailTaken = "An account with this e-mail address exists already. Please sign in instead.";

// Something@something.something without spaces; no pattern matcher, whose stack grows with the text.
bool isEmailAddress(std::string_view text) {
  constexpr std::size_t kMaxLength = 254;
  if (text.size() > kMaxLength || text.find_first_of(" \t\r\n\v\f") != std::string_view::npos) return false;
  const auto at = text.find('@');
  if (at == 0 || at == std::string_view::npos || text.find('@', at + 1) != std::string_view::npos) return false;
  const auto domain = text.substr(at + 1);
  const auto dot = domain.find('.', 1);
  return dot != std::string_view::npos && dot + 1 < domain.size();
}

// Canonically equal texts (a letter typed precomposed or decomposed) compare equal, as the client
// compares them.
bool canonicallyEqual(const std::string& a, const std::string& b) {
  if (a == b) return true;
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status)) return false;
  const auto left = nfc->normalize(icu::UnicodeString::fromUTF8(a), status);
  const auto right = nfc->normalize(icu::UnicodeString::fromUTF8(b), status);
  return U_SUCCESS(status) && left == right;
}

std::string newPassword(const json& request, const char* key) {
  std::string password = required(optText(request, key), key);
  if (password.size() < 6)
    badRequest(std::string_view(key) == "newPassword" ? "The new password must be at least 6 characters long."
                                                      : "The password must be at least 6 characters long.");
  return password;
}

std::string externalProvider(const json& request) {
  std::string provider = required(optText(request, "provider"), "provider");
  if (provider != "facebook" && provider != "zedodo") missing("provider");
  return provider;
}

const char* providerName(const std::string& provider) { return provider == "facebook" ? "Facebook" : "Zedodo"; }

json loginReply(Backend& backend, Id accountId, const std::string& provider) {
  return {{"token", backend.store.issueToken(accountId)},
          {"userName", backend.store.account(accountId)->email},
          {"provider", provider}};
}

std::vector<Id> schoolsOf(Backend& backend, const json& request) {
  std::vector<Id> ids;
  if (request.contains("schoolId") && !request["schoolId"].is_null()) ids = idList(request["schoolId"], "\"schoolId\"");
  for (Id id : ids)
    if (!backend.catalog.hasSchool(id))
      badRequest(fmt::format("There is no school {}. Please choose your schools again.", id));
  return ids;
}

Account newAccount(Backend& backend, const json& request) {
  Account account{0, required(optText(request, "userName"), "userName"), requiredText(request, "firstName"),
                  requiredText(request, "lastName"), false};
  if (!isEmailAddress(account.email)) badRequest("Please enter a valid e-mail address.");
  if (backend.store.accountByEmail(account.email)) throw ApiError{409, kExists, kEmailTaken};
  return account;
}

PasswordHash hashed(Backend& backend, const std::string& password) {
  return PasswordHash::of(password, backend.store.options().passwordIterations);
}

bool passwordMatches(Backend& backend, Id accountId, const std::string& password) {
  const auto stored = backend.store.password(accountId);
  if (!stored || !stored->verifies(password)) return false;
  // A hash made with fewer iterations than now asked is made again while the password is at hand.
  if (stored->iterations != backend.store.options().passwordIterations)
    backend.store.setPassword(accountId, hashed(backend, password));
  return true;
}

json login(Backend& backend, Call& call) {
  const auto& request = object(call);
  auto account = backend.store.accountByEmail(required(optText(request, "userName"), "userName"));
  if (!account || !passwordMatches(backend, account->id, required(optText(request, "password"), "password")))
    throw ApiError{401, kWrongCredentials, "Wrong e-mail address or password. Please try again."};
  return loginReply(backend, account->id, "basic");
}

Id created(std::optional<Id> id) {
  if (!id) throw ApiError{409, kExists, kEmailTaken};
  return *id;
}

json registerAccount(Backend& backend, Call& call) {
  const auto& request = object(call);
  Account account = newAccount(backend, request);
  const std::string password = newPassword(request, "password");
  const auto confirmation = optText(request, "confirmPassword");
  if (!confirmation || confirmation->empty()) missing("confirmPassword");
  if (!canonicallyEqual(*confirmation, password)) badRequest("The two passwords do not match.");
  const auto schools = schoolsOf(backend, request);
  return loginReply(backend, created(backend.store.createAccount(account, hashed(backend, password), schools)),
                    "basic");
}

json registerExternal(Backend& backend, Call& call) {
  const auto& request = object(call);
  const std::string provider = externalProvider(request);
  const std::string token = linkKey(backend, provider, requiredText(request, "token"));
  if (backend.store.accountForToken(provider, token))
    throw ApiError{
        409, kExists,
        fmt::format("This {} sign-in has an account already. Please sign in with it.", providerName(provider))};
  const Id id = created(backend.store.createAccount(newAccount(backend, request), std::nullopt,
                                                    schoolsOf(backend, request), ProviderLink{provider, token}));
  return loginReply(backend, id, provider);
}

json recoverPassword(Backend& backend, Call& call) {
  auto account = backend.store.accountByEmail(required(optText(object(call), "userName"), "userName"));
  if (!account) throw ApiError{404, kNotFound, "There is no account with this e-mail address."};
  backend.store.recordRecovery(account->id);
  return nullptr;
}

json changePassword(Backend& backend, Call& call) {
  const auto& request = object(call);
  if (!backend.store.account(call.accountId)->hasPassword)
    badRequest("This account has no password yet. Please add one.");
  // 400, not 401: a mistyped password must not end the session.
  if (!passwordMatches(backend, call.accountId, required(optText(request, "oldPassword"), "oldPassword")))
    throw ApiError{400, kWrongCredentials, "The current password is wrong. Please try again."};
  const std::string token =
      backend.store.changePassword(call.accountId, hashed(backend, newPassword(request, "newPassword")));
  return {{"token", token}, {"userName", backend.store.account(call.accountId)->email}, {"provider", "basic"}};
}

json addPassword(Backend& backend, Call& call) {
  if (backend.store.account(call.accountId)->hasPassword)
    throw ApiError{409, kExists, "This account has a password already. Please change it instead."};
  backend.store.setPassword(call.accountId, hashed(backend, newPassword(object(call), "newPassword")));
  return loginReply(backend, call.accountId, "basic");
}

json addExternalProfile(Backend& backend, Call& call) {
  const auto& request = object(call);
  const std::string provider = externalProvider(request);
  const std::string token = linkKey(backend, provider, requiredText(request, "token"));
  auto owner = backend.store.accountForToken(provider, token);
  if (owner && *owner != call.accountId)
    throw ApiError{409, kExists, fmt::format("This {} sign-in belongs to another account.", providerName(provider))};
  backend.store.linkProvider(call.accountId, provider, token);
  return loginReply(backend, call.accountId, provider);
}

json uploadProfilePicture(Backend& backend, Call& call) {
  if (!call.request.has_file("file")) badRequest("Send the picture as the multipart part \"file\"");
  const auto file = call.request.get_file_value("file");
  std::string format = file.content_type.rfind("image/", 0) == 0 ? file.content_type.substr(6) : "";
  std::transform(format.begin(), format.end(), format.begin(), [](unsigned char c) { return std::tolower(c); });
  if (format == "jpg") format = "jpeg";
  if (format != "jpeg" && format != "png")
    badRequest("The picture must be a JPEG or PNG image. Please choose another.");
  if (file.content.empty()) badRequest("The picture is empty. Please choose another.");
  backend.store.setPicture(call.accountId, format, file.content);
  return nullptr;
}

const Route kRoutes[] = {
    {"POST", "Account/TabletLogin", false, login},
    {"POST", "Account/TabletRegister", false, registerAccount},
    {"POST", "Account/TabletExternalRegister", false, registerExternal},
    {"POST", "Account/TabletPasswordRecovery", false, recoverPassword},
    {"POST", "Account/TabletChangePassword", true, changePassword},
    {"POST", "Account/TabletAddPassword", true, addPassword},
    {"POST", "Account/TabletAddExternalProfile", true, addExternalProfile},
    {"POST", "Account/TabletUploadProfilePicture", true, uploadProfilePicture},
};

}  // namespace

std::span<const Route> accountRoutes() { return kRoutes; }

}  // namespace sample_api
