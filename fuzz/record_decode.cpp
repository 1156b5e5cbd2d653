// Every response record, and lists of them, decoded from arbitrary bytes: nothing may crash, and
// whatever was decoded must write back as valid JSON.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "model/achievement_response.h"
#include "model/curriculum_response.h"
#include "model/document_response.h"
#include "model/empty_payload.h"
#include "model/error_response.h"
#include "model/lecture_response.h"
#include "model/login_response.h"
#include "model/mappable_array.h"
#include "model/news_response.h"
#include "model/quiz_answer_response.h"
#include "model/quiz_level_response.h"
#include "model/quiz_question_response.h"
#include "model/quiz_response.h"
#include "model/quiz_result_response.h"
#include "model/save_quiz_results_response.h"
#include "model/school_response.h"
#include "model/user_profile_response.h"

namespace {

template <class T>
void checkWritesValidJSON(const T& record) {
  const JsonValue written = json_detail::parseJSON(Mapper<T>().toJSONString(record));
  if (!written.is_object()) std::abort();
}

template <class T>
void decodeAs(std::string_view text) {
  if (const std::optional<T> record = T::decode(text)) checkWritesValidJSON(*record);
  const MappableArray<T> list = MappableArray<T>::decode(text);
  for (const T& record : list) checkWritesValidJSON(record);
  if (!list.empty() && json_detail::parseJSON(list.encode()).size() != list.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  decodeAs<ErrorResponse>(text);
  decodeAs<LoginResponse>(text);
  decodeAs<UserProfileResponse>(text);
  decodeAs<SchoolResponse>(text);
  decodeAs<LectureResponse>(text);
  decodeAs<CurriculumResponse>(text);
  decodeAs<DocumentResponse>(text);
  decodeAs<NewsResponse>(text);
  decodeAs<AchievementResponse>(text);
  decodeAs<QuizResponse>(text);
  decodeAs<QuizLevelResponse>(text);
  decodeAs<QuizQuestionResponse>(text);
  decodeAs<QuizAnswerResponse>(text);
  decodeAs<SaveQuizResultsResponse>(text);
  decodeAs<QuizResultResponse>(text);
  EmptyPayload::decode(text);
  return 0;
}
