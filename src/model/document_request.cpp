#include "model/document_request.h"

#include "platform/json/bind.h"

void DocumentRequest::mapping(Map& map) {
  bindField(name, map["name"]);
  bindField(pageNumber, map["pageNumber"]);
  bindField(pageSize, map["pageSize"]);
  bindField(curriculumId, map["curriculumId"]);
}
