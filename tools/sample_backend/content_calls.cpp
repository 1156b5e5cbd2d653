// Content calls: the profile, schools, lectures, curricula, documents, quizzes and news.
#include <fmt/format.h>

#include <algorithm>

#include "api.h"

namespace sample_api {
namespace {

json userProfile(Backend& backend, Call& call) {
  const Account account = *backend.store.account(call.accountId);
  json schools = json::array();
  const auto mine = backend.store.schools(account.id);
  for (const auto& school : backend.catalog.schools())
    if (std::find(mine.begin(), mine.end(), school["id"].get<Id>()) != mine.end()) schools.push_back(school);
  json profile = {{"isConfirmed", true},
                  {"firstName", account.firstName},
                  {"lastName", account.lastName},
                  {"id", std::to_string(account.id)},
                  {"userName", account.email},
                  {"school", schools},
                  {"hasFacebook", backend.store.hasProvider(account.id, "facebook")},
                  {"hasZedodo", backend.store.hasProvider(account.id, "zedodo")},
                  {"hasPassword", account.hasPassword}};
  // The version makes a new picture a new address, so no cache shows the old one.
  if (auto picture = backend.store.picture(account.id))
    profile["profilePicturePath"] = fmt::format("Account/ProfilePicture/{}?v={}", account.id, picture->version);
  return profile;
}

json schools(Backend& backend, Call&) { return backend.catalog.schools(); }

json lectures(Backend& backend, Call& call, bool withQuizOnly) {
  const auto& request = object(call);
  return page(
      backend.catalog.lectures(backend.store.removedLectures(call.accountId), optText(request, "name"), withQuizOnly),
      request);
}
json availableLectures(Backend& backend, Call& call) { return lectures(backend, call, false); }
json lecturesWithQuiz(Backend& backend, Call& call) { return lectures(backend, call, true); }

json chooseLectures(Backend& backend, Call& call, bool removed) {
  const auto ids = idList(call.body, "The body");
  for (Id id : ids)
    if (!backend.catalog.hasLecture(id)) throw ApiError{404, kNotFound, fmt::format("There is no lecture {}", id)};
  for (Id id : ids) backend.store.setLectureRemoved(call.accountId, id, removed);
  return nullptr;
}
json addLectures(Backend& backend, Call& call) { return chooseLectures(backend, call, false); }
json deleteLectures(Backend& backend, Call& call) { return chooseLectures(backend, call, true); }

json curricula(Backend& backend, Call& call) {
  const auto& request = object(call);
  return page(
      backend.catalog.curricula(required(optId(request, "lectureId"), "lectureId"), optId(request, "curriculumId"),
                                optText(request, "name"), optFlag(request, "all").value_or(false)),
      request);
}

json documents(Backend& backend, Call& call) {
  const auto& request = object(call);
  return page(
      backend.catalog.documents(required(optId(request, "curriculumId"), "curriculumId"), optText(request, "name")),
      request);
}

json quizzes(Backend& backend, Call& call) {
  const auto& request = object(call);
  Catalog::QuizFilter filter{optId(request, "quizId"), optId(request, "lectureId"), optId(request, "curriculumId"),
                             optText(request, "name")};
  return page(backend.catalog.quizzes(filter, optFlag(request, "all").value_or(false), call.mediaBase), request);
}

json news(Backend& backend, Call& call) {
  const auto& request = object(call);
  return backend.catalog.news(optId(request, "lectureId"), optText(request, "searchText"));
}

const Route kRoutes[] = {
    {"GET", "Tablet/GetUserProfile", true, userProfile},
    {"GET", "Tablet/GetSchools", false, schools},
    {"POST", "Tablet/GetAvailableLectures", true, availableLectures},
    {"POST", "Tablet/GetLecturesWithQuiz", true, lecturesWithQuiz},
    {"POST", "Tablet/AddLectures", true, addLectures},
    {"POST", "Tablet/DeleteLectures", true, deleteLectures},
    {"POST", "Tablet/GetCurriculums", true, curricula},
    {"POST", "Tablet/GetDocuments", true, documents},
    {"POST", "Tablet/GetQuizes", true, quizzes},
    {"POST", "Tablet/GetNews", true, news},
};

}  // namespace

std::span<const Route> contentRoutes() { return kRoutes; }

}  // namespace sample_api
