#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "backend/backend_api.h"

// The lecture service's quiz, curriculum, best-result and save calls, held until the test lets
// each go on to the backend, in any order. Every other call goes on at once.
class HoldingBackendApi : public BackendApi {
 public:
  struct Call {
    std::string name;  // "getQuizes", "getCurriculums", "getBestQuizResults" or "saveQuizResults"
    std::optional<Id> curriculumId;
    std::function<void()> send;
  };
  using BackendApi::BackendApi;

  void getQuizes(std::optional<Id> id, std::optional<Id> lectureId, std::optional<Id> curriculumId,
                 std::optional<bool> all, std::optional<std::string> name, std::optional<Id> pageNumber,
                 std::optional<Id> pageSize, Completion<MappableArray<QuizResponse>> completion) override {
    held.push_back({"getQuizes", curriculumId, [=, this] {
                      BackendApi::getQuizes(id, lectureId, curriculumId, all, name, pageNumber, pageSize, completion);
                    }});
  }
  void getCurriculums(Id lectureId, std::optional<std::string> name, std::optional<Id> id, std::optional<bool> all,
                      std::optional<Id> pageNumber, std::optional<Id> pageSize,
                      Completion<MappableArray<CurriculumResponse>> completion) override {
    held.push_back({"getCurriculums", id, [=, this] {
                      BackendApi::getCurriculums(lectureId, name, id, all, pageNumber, pageSize, completion);
                    }});
  }
  void getBestQuizResults(std::optional<Id> lectureId, std::optional<Id> curriculumId, std::optional<Id> quizId,
                          Completion<MappableArray<QuizResultResponse>> completion) override {
    held.push_back({"getBestQuizResults", curriculumId,
                    [=, this] { BackendApi::getBestQuizResults(lectureId, curriculumId, quizId, completion); }});
  }
  void saveQuizResults(std::vector<SaveQuizResultsRequest> results,
                       Completion<SaveQuizResultsResponse> completion) override {
    held.push_back({"saveQuizResults", std::nullopt, [=, this] { BackendApi::saveQuizResults(results, completion); }});
  }

  // Sends the held call at `index` and forgets it.
  void release(std::size_t index) {
    auto call = held.at(index);
    held.erase(held.begin() + static_cast<std::ptrdiff_t>(index));
    call.send();
  }

  std::vector<Call> held;
};
