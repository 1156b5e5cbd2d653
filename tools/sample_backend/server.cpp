#include "server.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>
#include <functional>
#include <iostream>
#include <map>
#include <regex>

#include "media.h"
#include "query_text.h"

namespace {

constexpr const char* kBase = "/BrevantTest/";

enum ErrorCode {
  kBadRequest = 1,
  kUnauthorized = 2,
  kWrongCredentials = 3,
  kExists = 4,
  kNotFound = 5,
  kMustRegister = 6,
  kInternal = 7
};

// Ends a call with a status and the backend's error body.
struct ApiError {
  int status;
  int code;
  std::string message;
};

[[noreturn]] void badRequest(const std::string& message) { throw ApiError{400, kBadRequest, message}; }

struct Call {
  const httplib::Request& request;
  json body;
  Id accountId = 0;
  std::string mediaBase;  // absolute base URL, as the client reached us
};

// Typed reads of a request object: an absent or null key gives nothing, a key of another type is
// a bad request.
std::optional<Id> optId(const json& object, const char* key) {
  if (!object.contains(key) || object[key].is_null()) return std::nullopt;
  if (!object[key].is_number_integer()) badRequest(fmt::format("\"{}\" must be a whole number", key));
  return object[key].get<Id>();
}

std::optional<std::string> optText(const json& object, const char* key) {
  if (!object.contains(key) || object[key].is_null()) return std::nullopt;
  if (!object[key].is_string()) badRequest(fmt::format("\"{}\" must be a text", key));
  return object[key].get<std::string>();
}

std::optional<bool> optFlag(const json& object, const char* key) {
  if (!object.contains(key) || object[key].is_null()) return std::nullopt;
  if (!object[key].is_boolean()) badRequest(fmt::format("\"{}\" must be true or false", key));
  return object[key].get<bool>();
}

std::optional<double> optNumber(const json& object, const char* key) {
  if (!object.contains(key) || object[key].is_null()) return std::nullopt;
  if (!object[key].is_number()) badRequest(fmt::format("\"{}\" must be a number", key));
  return object[key].get<double>();
}

template <class T>
T required(std::optional<T> value, const char* key) {
  if (!value) badRequest(fmt::format("\"{}\" is missing", key));
  return std::move(*value);
}

std::string requiredText(const json& object, const char* key) {
  std::string text = required(optText(object, key), key);
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) badRequest(fmt::format("\"{}\" is empty", key));
  return text;
}

const json& object(const Call& call) {
  if (!call.body.is_object()) badRequest("The body must be a JSON object");
  return call.body;
}

std::vector<Id> idList(const json& value, const char* what) {
  if (!value.is_array()) badRequest(fmt::format("{} must be a JSON array of whole numbers", what));
  std::vector<Id> ids;
  for (const auto& item : value) {
    if (!item.is_number_integer()) badRequest(fmt::format("{} must be a JSON array of whole numbers", what));
    ids.push_back(item.get<Id>());
  }
  return ids;
}

json page(json list, const json& request) {
  const auto size = optId(request, "pageSize");
  const Id number = optId(request, "pageNumber").value_or(1);
  if (!size) return list;
  if (*size < 1 || number < 1) badRequest("Pages count from 1 and hold at least one item");
  json slice = json::array();
  for (Id i = (number - 1) * *size; i < number * *size && i < Id(list.size()); ++i) slice.push_back(list[i]);
  return slice;
}

bool isEmailAddress(const std::string& text) {
  static const std::regex pattern(R"([^@\s]+@[^@\s]+\.[^@\s]+)");
  return std::regex_match(text, pattern);
}

std::string newPassword(const json& request, const char* key) {
  std::string password = required(optText(request, key), key);
  if (password.size() < 6) badRequest("A password needs at least 6 characters");
  return password;
}

std::string externalProvider(const json& request) {
  std::string provider = required(optText(request, "provider"), "provider");
  if (provider != "facebook" && provider != "zedodo") badRequest("\"provider\" must be facebook or zedodo");
  return provider;
}

std::string now() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char text[20];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

bool isDate(const std::string& text) {
  static const std::regex pattern(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})");
  return std::regex_match(text, pattern);
}

json wire(const QuizResult& result) {
  return {{"id", result.id},
          {"score", result.score},
          {"time", result.time},
          {"result", result.result},
          {"dateString", result.date},
          {"answersScore", result.answersScore},
          {"maxScore", result.maxScore},
          {"quizId", result.quizId},
          {"studentId", std::to_string(result.accountId)},
          {"mobileId", result.mobileId}};
}

// The grade 1 to 5 that the quiz's level gives a share of the points.
Id grade(double score, Id maxScore, const json& level) {
  const double percent = 100.0 * score / double(maxScore);
  Id result = 1;
  for (const char* key : {"two", "three", "four", "five"}) {
    if (percent + 1e-9 < level[key].get<double>()) break;
    ++result;
  }
  return result;
}

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

void SampleServer::routes() {
  using Handler = std::function<json(Call&)>;
  struct Route {
    bool authorized;
    Handler handler;
  };
  // "METHOD path" below the base path. A handler's null answer is an empty body.
  std::map<std::string, Route> api;
  Store* store = &store_;
  Catalog* catalog = &catalog_;
  // What an account is linked to: a Facebook token itself; for Zedodo, whose access tokens come
  // and go, the person the token belongs to while it is valid.
  auto linkKey = [zedodo = &zedodo_](const std::string& provider, const std::string& token) {
    if (provider != "zedodo") return token;
    auto subject = zedodo->subjectOfAccessToken(token);
    if (!subject) throw ApiError{401, kUnauthorized, "The Zedodo sign-in is not valid; sign in again"};
    return "subject:" + *subject;
  };

  auto loginReply = [store](Id accountId, const std::string& provider) -> json {
    return {{"token", store->issueToken(accountId)},
            {"userName", store->account(accountId)->email},
            {"provider", provider}};
  };
  auto schoolsOf = [catalog](const json& request) {
    std::vector<Id> ids;
    if (request.contains("schoolId") && !request["schoolId"].is_null())
      ids = idList(request["schoolId"], "\"schoolId\"");
    for (Id id : ids)
      if (!catalog->hasSchool(id)) badRequest(fmt::format("There is no school {}", id));
    return ids;
  };
  auto newAccount = [=](const json& request) {
    Account account{0, required(optText(request, "userName"), "userName"), requiredText(request, "firstName"),
                    requiredText(request, "lastName"), false};
    if (!isEmailAddress(account.email)) badRequest("\"userName\" must be an e-mail address");
    if (store->accountByEmail(account.email))
      throw ApiError{409, kExists, "An account with this e-mail address exists already"};
    return account;
  };

  // Account calls.
  api["POST Account/TabletLogin"] = {
      false, [=](Call& call) -> json {
        const auto& request = object(call);
        auto account = store->accountByEmail(required(optText(request, "userName"), "userName"));
        if (!account || !store->checkPassword(account->id, required(optText(request, "password"), "password")))
          throw ApiError{401, kWrongCredentials, "Wrong e-mail address or password"};
        return loginReply(account->id, "basic");
      }};
  api["POST Account/TabletRegister"] = {false, [=](Call& call) -> json {
                                          const auto& request = object(call);
                                          Account account = newAccount(request);
                                          const std::string password = newPassword(request, "password");
                                          if (optText(request, "confirmPassword") != password)
                                            badRequest("The two passwords differ");
                                          return loginReply(store->createAccount(account, password, schoolsOf(request)),
                                                            "basic");
                                        }};
  api["POST Account/TabletExternalRegister"] = {
      false, [=](Call& call) -> json {
        const auto& request = object(call);
        const std::string provider = externalProvider(request);
        const std::string token = linkKey(provider, requiredText(request, "token"));
        if (store->accountForToken(provider, token))
          throw ApiError{409, kExists, fmt::format("This {} sign-in has an account already", provider)};
        const Id id = store->createAccount(newAccount(request), std::nullopt, schoolsOf(request));
        store->linkProvider(id, provider, token);
        return loginReply(id, provider);
      }};
  api["POST Account/TabletPasswordRecovery"] = {
      false, [=](Call& call) -> json {
        auto account = store->accountByEmail(required(optText(object(call), "userName"), "userName"));
        if (!account) throw ApiError{404, kNotFound, "There is no account with this e-mail address"};
        store->recordRecovery(account->id);
        return nullptr;
      }};
  api["POST Account/TabletChangePassword"] = {
      true, [=](Call& call) -> json {
        const auto& request = object(call);
        if (!store->account(call.accountId)->hasPassword) badRequest("This account has no password yet; add one");
        // 400, not 401: a mistyped password must not end the session.
        if (!store->checkPassword(call.accountId, required(optText(request, "oldPassword"), "oldPassword")))
          throw ApiError{400, kWrongCredentials, "The current password is wrong"};
        store->setPassword(call.accountId, newPassword(request, "newPassword"));
        store->revokeTokens(call.accountId);
        return loginReply(call.accountId, "basic");
      }};
  api["POST Account/TabletAddPassword"] = {
      true, [=](Call& call) -> json {
        if (store->account(call.accountId)->hasPassword)
          throw ApiError{409, kExists, "This account has a password already; change it instead"};
        store->setPassword(call.accountId, newPassword(object(call), "newPassword"));
        return loginReply(call.accountId, "basic");
      }};
  api["POST Account/TabletAddExternalProfile"] = {
      true, [=](Call& call) -> json {
        const auto& request = object(call);
        const std::string provider = externalProvider(request);
        const std::string token = linkKey(provider, requiredText(request, "token"));
        auto owner = store->accountForToken(provider, token);
        if (owner && *owner != call.accountId)
          throw ApiError{409, kExists, fmt::format("This {} sign-in belongs to another account", provider)};
        store->linkProvider(call.accountId, provider, token);
        return loginReply(call.accountId, provider);
      }};
  api["POST Account/TabletUploadProfilePicture"] = {
      true, [=](Call& call) -> json {
        if (!call.request.has_file("file")) badRequest("Send the picture as the multipart part \"file\"");
        const auto file = call.request.get_file_value("file");
        std::string format = file.content_type.rfind("image/", 0) == 0 ? file.content_type.substr(6) : "";
        std::transform(format.begin(), format.end(), format.begin(), [](unsigned char c) { return std::tolower(c); });
        if (format == "jpg") format = "jpeg";
        if (format != "jpeg" && format != "png") badRequest("The picture must be a JPEG or PNG image");
        if (file.content.empty()) badRequest("The picture is empty");
        store->setPicture(call.accountId, format, file.content);
        return nullptr;
      }};

  // Content calls.
  api["GET Tablet/GetUserProfile"] = {true, [=](Call& call) -> json {
                                        const Account account = *store->account(call.accountId);
                                        json schools = json::array();
                                        for (const auto& school : catalog->schools()) {
                                          const auto mine = store->schools(account.id);
                                          if (std::find(mine.begin(), mine.end(), school["id"].get<Id>()) != mine.end())
                                            schools.push_back(school);
                                        }
                                        json profile = {{"isConfirmed", true},
                                                        {"firstName", account.firstName},
                                                        {"lastName", account.lastName},
                                                        {"id", std::to_string(account.id)},
                                                        {"userName", account.email},
                                                        {"school", schools},
                                                        {"hasFacebook", store->hasProvider(account.id, "facebook")},
                                                        {"hasZedodo", store->hasProvider(account.id, "zedodo")},
                                                        {"hasPassword", account.hasPassword}};
                                        // The version makes a new picture a new address, so no cache shows the old one.
                                        if (auto picture = store->picture(account.id))
                                          profile["profilePicturePath"] = fmt::format("Account/ProfilePicture/{}?v={}",
                                                                                      account.id, picture->version);
                                        return profile;
                                      }};
  api["GET Tablet/GetSchools"] = {false, [=](Call&) -> json { return catalog->schools(); }};
  auto lectures = [=](bool withQuizOnly) {
    return [=](Call& call) -> json {
      const auto& request = object(call);
      return page(catalog->lectures(store->removedLectures(call.accountId), optText(request, "name"), withQuizOnly),
                  request);
    };
  };
  api["POST Tablet/GetAvailableLectures"] = {true, lectures(false)};
  api["POST Tablet/GetLecturesWithQuiz"] = {true, lectures(true)};
  auto chooseLectures = [=](bool removed) {
    return [=](Call& call) -> json {
      const auto ids = idList(call.body, "The body");
      for (Id id : ids)
        if (!catalog->hasLecture(id)) throw ApiError{404, kNotFound, fmt::format("There is no lecture {}", id)};
      for (Id id : ids) store->setLectureRemoved(call.accountId, id, removed);
      return nullptr;
    };
  };
  api["POST Tablet/AddLectures"] = {true, chooseLectures(false)};
  api["POST Tablet/DeleteLectures"] = {true, chooseLectures(true)};
  api["POST Tablet/GetCurriculums"] = {
      true, [=](Call& call) -> json {
        const auto& request = object(call);
        return page(
            catalog->curricula(required(optId(request, "lectureId"), "lectureId"), optId(request, "curriculumId"),
                               optText(request, "name"), optFlag(request, "all").value_or(false)),
            request);
      }};
  api["POST Tablet/GetDocuments"] = {
      true, [=](Call& call) -> json {
        const auto& request = object(call);
        return page(
            catalog->documents(required(optId(request, "curriculumId"), "curriculumId"), optText(request, "name")),
            request);
      }};
  api["POST Tablet/GetQuizes"] = {
      true, [=](Call& call) -> json {
        const auto& request = object(call);
        Catalog::QuizFilter filter{optId(request, "quizId"), optId(request, "lectureId"),
                                   optId(request, "curriculumId"), optText(request, "name")};
        return page(catalog->quizzes(filter, optFlag(request, "all").value_or(false), call.mediaBase), request);
      }};
  auto lectureOfQuiz = [catalog](Id quizId) {
    return catalog->lectureOfCurriculum((*catalog->quiz(quizId))["curriculumId"]);
  };
  api["POST Tablet/SaveQuizResults"] = {
      true, [=](Call& call) -> json {
        if (!call.body.is_array() || call.body.empty()) badRequest("The body must be a JSON array of results");
        std::vector<QuizResult> results;
        for (const auto& item : call.body) {
          if (!item.is_object()) badRequest("Each result must be a JSON object");
          QuizResult result;
          result.accountId = call.accountId;
          result.quizId = required(optId(item, "quizId"), "quizId");
          const json* quiz = catalog->quiz(result.quizId);
          if (!quiz) throw ApiError{404, kNotFound, fmt::format("There is no quiz {}", result.quizId)};
          result.score = required(optNumber(item, "score"), "score");
          result.maxScore = required(optId(item, "maxScore"), "maxScore");
          if (result.maxScore < 1 || result.score < 0 || result.score > double(result.maxScore) + 1e-9)
            badRequest("\"score\" must lie between 0 and \"maxScore\", which must be at least 1");
          result.time = optId(item, "time").value_or(0);
          result.mobileId = optId(item, "mobileId").value_or(0);
          result.answersScore = optText(item, "answersScore").value_or("");
          result.questionsId = optText(item, "questionsId").value_or("");
          const auto known = catalog->questionIds(*quiz);
          std::stringstream ids(result.questionsId);
          for (std::string id; std::getline(ids, id, ';');)
            if (std::find_if(known.begin(), known.end(), [&id](Id k) { return std::to_string(k) == id; }) ==
                known.end())
              badRequest(fmt::format("Quiz {} has no question \"{}\"", result.quizId, id));
          result.date = optText(item, "date").value_or(now());
          if (!isDate(result.date)) badRequest("\"date\" must read yyyy-MM-dd HH:mm:ss");
          result.quizLevelId = optId(item, "quizLevelId");
          if (result.quizLevelId && !catalog->quizLevel(*result.quizLevelId)) badRequest("There is no such quiz level");
          result.result = grade(result.score, result.maxScore, *catalog->quizLevel((*quiz)["quizLevelId"]));
          results.push_back(std::move(result));
        }
        json reply = {{"quizResults", json::array()}, {"achievements", json::array()}};
        for (auto& result : results) reply["quizResults"].push_back(wire(store->saveResult(result)));

        const auto all = store->results(call.accountId);
        const auto earned = store->earned(call.accountId);
        for (const auto& seed : catalog->achievementSeeds()) {
          const Id id = seed["id"];
          if (std::any_of(earned.begin(), earned.end(), [id](const auto& e) { return e.first == id; })) continue;
          const std::string rule = seed["rule"];
          const bool reached = rule == "firstResult" ? !all.empty()
                               : rule == "fiveResults"
                                   ? all.size() >= 5
                                   : std::any_of(results.begin(), results.end(),
                                                 [](const QuizResult& r) { return r.score >= double(r.maxScore); });
          if (!reached) continue;
          store->earn(call.accountId, id, lectureOfQuiz(results.back().quizId));
          reply["achievements"].push_back(catalog->achievement(id));
        }
        return reply;
      }};
  api["POST Tablet/GetQuizResults"] = {
      true, [=](Call& call) -> json {
        const auto& request = object(call);
        const auto quizId = optId(request, "quizId");
        const auto lectureId = optId(request, "lectureId");
        const auto since = optText(request, "date");
        if (since && !isDate(*since)) badRequest("\"date\" must read yyyy-MM-dd HH:mm:ss");
        json list = json::array();
        for (const auto& result : store->results(call.accountId)) {
          if ((quizId && result.quizId != *quizId) || (lectureId && lectureOfQuiz(result.quizId) != *lectureId))
            continue;
          if (!since || result.date >= *since) list.push_back(wire(result));
        }
        return list;
      }};
  api["POST Tablet/GetBestQuizResults"] = {
      true, [=](Call& call) -> json {
        const auto& request = object(call);
        const auto quizId = optId(request, "quizId");
        const auto curriculumId = optId(request, "curriculumId");
        const auto lectureId = optId(request, "lectureId");
        std::map<Id, QuizResult> best;
        for (const auto& result : store->results(call.accountId)) {
          const Id curriculum = (*catalog->quiz(result.quizId))["curriculumId"];
          if ((quizId && result.quizId != *quizId) || (curriculumId && curriculum != *curriculumId) ||
              (lectureId && catalog->lectureOfCurriculum(curriculum) != *lectureId))
            continue;
          auto found = best.find(result.quizId);
          if (found == best.end() ||
              result.score / double(result.maxScore) >= found->second.score / double(found->second.maxScore))
            best[result.quizId] = result;
        }
        json list = json::array();
        for (const auto& [quiz, result] : best) list.push_back(wire(result));
        return list;
      }};
  api["POST Tablet/GetAchievements"] = {
      true, [=](Call& call) -> json {
        const auto& request = object(call);
        if (const auto type = optText(request, "entityType")) {
          const Id id = required(optId(request, "id"), "id");
          const bool known = *type == "lecture"      ? catalog->hasLecture(id)
                             : *type == "curriculum" ? catalog->hasCurriculum(id)
                             : *type == "quiz"
                                 ? catalog->quiz(id) != nullptr
                                 : (badRequest("\"entityType\" must be lecture, curriculum or quiz"), false);
          if (!known) throw ApiError{404, kNotFound, fmt::format("There is no {} {}", *type, id)};
        }
        return catalog->achievements();
      }};
  api["POST Tablet/GetStudentAchievements"] = {
      true, [=](Call& call) -> json {
        const auto& request = object(call);
        const auto lectureId = optId(request, "lectureId");
        json list = json::array();
        for (const auto& [achievement, lecture] : store->earned(call.accountId))
          if (!lectureId || lecture == *lectureId) list.push_back(catalog->achievement(achievement));
        return page(list, request);
      }};
  api["POST Tablet/GetNews"] = {true, [=](Call& call) -> json {
                                  const auto& request = object(call);
                                  return catalog->news(optId(request, "lectureId"), optText(request, "searchText"));
                                }};

  auto dispatch = [this, linkKey, api = std::move(api)](const httplib::Request& request, httplib::Response& response) {
    const std::string path = request.matches[1];
    std::lock_guard lock(mutex_);
    try {
      auto found = api.find(request.method + " " + path);
      if (found == api.end()) throw ApiError{404, kNotFound, "There is no call " + request.method + " " + path};
      Call call{request, nullptr, 0, "http://" + request.get_header_value("Host") + kBase};
      if (!request.body.empty() && !request.is_multipart_form_data()) {
        call.body = json::parse(request.body, nullptr, false);
        if (call.body.is_discarded()) badRequest("The body is not JSON");
      }
      if (found->second.authorized) {
        const std::string authorization = request.get_header_value("Authorization");
        const std::string provider = request.get_header_value("Authorization-Provider");
        if (authorization.rfind("Bearer ", 0) != 0 || authorization.size() == 7)
          throw ApiError{401, kUnauthorized, "Sign in first"};
        if (provider != "basic" && provider != "facebook" && provider != "zedodo")
          throw ApiError{401, kUnauthorized, "Unknown sign-in provider"};
        auto account = store_.accountForToken(
            provider, provider == "basic" ? authorization.substr(7) : linkKey(provider, authorization.substr(7)));
        // An unknown provider token is a person without an account: the client offers registration.
        if (!account && provider != "basic")
          throw ApiError{401, kMustRegister,
                         fmt::format("No account uses this {} sign-in yet; register first", provider)};
        if (!account) throw ApiError{401, kUnauthorized, "The session has ended; sign in again"};
        call.accountId = *account;
      }
      json reply = found->second.handler(call);
      response.status = 200;
      if (!reply.is_null()) sendJson(response, 200, reply);
    } catch (const ApiError& error) {
      sendError(response, error);
    } catch (const json::exception& error) {
      sendError(response, {400, kBadRequest, error.what()});
    } catch (const std::exception& error) {
      sendError(response, {500, kInternal, error.what()});
    }
  };
  http_.Post(R"(/BrevantTest/(.*))", dispatch);
  http_.Get(R"(/BrevantTest/(Tablet/Get(?:UserProfile|Schools)))", dispatch);

  // Files: fetched without authorization, as the client's downloads and picture loads are.
  http_.Get(R"(/BrevantTest/Tablet/GetDocument)", [this](const httplib::Request& request, httplib::Response& response) {
    std::lock_guard lock(mutex_);
    static const std::regex reference(R"(~(\d{1,9}))");
    std::smatch match;
    const std::string p = request.get_param_value("p");
    const json* document = std::regex_match(p, match, reference) ? catalog_.document(std::stoll(match[1])) : nullptr;
    if (!document) return sendError(response, {404, kNotFound, "There is no such document"});
    response.set_header("Content-Disposition",
                        fmt::format("attachment; filename=\"{}\"", (*document)["fileName"].get<std::string>()));
    response.set_content((*document)["text"].get<std::string>(), "text/plain; charset=utf-8");
  });
  http_.Get(R"(/BrevantTest/Media/([^/]+))", [](const httplib::Request& request, httplib::Response& response) {
    auto file = generateMedia(request.matches[1]);
    if (!file) return sendError(response, {404, kNotFound, "There is no such file"});
    response.set_content(file->bytes, file->contentType.c_str());
  });
  http_.Get(R"(/BrevantTest/Account/ProfilePicture/(\d{1,9}))",
            [this](const httplib::Request& request, httplib::Response& response) {
              std::lock_guard lock(mutex_);
              auto picture = store_.picture(std::stoll(request.matches[1]));
              if (!picture) return sendError(response, {404, kNotFound, "There is no such picture"});
              response.set_content(picture->bytes, ("image/" + picture->format).c_str());
            });

  // A fake Facebook: the login dialog answers at once for its one person, as a browser's redirect
  // back to the application's loopback address with the token in the fragment, where a token
  // answer comes; the Graph API knows that person's token.
  http_.Get("/facebook/dialog/oauth", [](const httplib::Request& request, httplib::Response& response) {
    if (request.get_param_value("client_id").empty())
      return sendError(response, {400, kBadRequest, "\"client_id\" is missing"});
    const std::string back = request.get_param_value("redirect_uri");
    if (back.rfind("http://127.0.0.1:", 0) != 0 || back.find('#') != std::string::npos)
      return sendError(response, {400, kBadRequest, "\"redirect_uri\" must be a loopback http address"});
    response.set_redirect(fmt::format("{}#state={}&access_token={}&user_id={}&expires_in=5184000", back,
                                      queryEncoded(request.get_param_value("state")), kFacebookPerson.token,
                                      kFacebookPerson.id));
  });
  http_.Get(R"(/facebook/graph/(?:v[0-9.]+/)?me)", [](const httplib::Request& request, httplib::Response& response) {
    if (request.get_param_value("access_token") != kFacebookPerson.token)
      return sendJson(response, 400, {{"error", {{"message", "Invalid OAuth access token."}, {"code", 190}}}});
    sendJson(response, 200,
             {{"id", kFacebookPerson.id},
              {"first_name", kFacebookPerson.firstName},
              {"last_name", kFacebookPerson.lastName},
              {"email", kFacebookPerson.email}});
  });
  http_.Get(R"(/facebook/graph/(?:v[0-9.]+/)?([0-9]+)/picture)",
            [](const httplib::Request& request, httplib::Response& response) {
              auto file = generateMedia(fmt::format("facebook-{}.png", std::string(request.matches[1])));
              response.set_content(file->bytes, file->contentType.c_str());
            });

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
