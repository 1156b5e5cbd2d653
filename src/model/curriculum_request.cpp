#include "model/curriculum_request.h"

#include "platform/json/bind.h"

void CurriculumRequest::mapping(Map& map) {
  bindField(name, map["name"]);
  bindField(pageNumber, map["pageNumber"]);
  bindField(pageSize, map["pageSize"]);
  bindField(lectureId, map["lectureId"]);
  bindField(id, map["curriculumId"]);
  bindField(all, map["all"]);
}
