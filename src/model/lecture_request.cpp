#include "model/lecture_request.h"

#include "platform/json/bind.h"

void LectureRequest::mapping(Map& map) {
  bindField(name, map["name"]);
  bindField(pageNumber, map["pageNumber"]);
  bindField(pageSize, map["pageSize"]);
}
