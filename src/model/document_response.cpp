#include "model/document_response.h"

#include "platform/json/bind.h"

void DocumentResponse::mapping(Map& map) {
  bindField(id, map["id"]);
  bindField(name, map["name"]);
  bindField(isDeleted, map["isDeleted"]);
  bindField(description, map["description"]);
  bindField(path, map["path"]);
  bindField(fileName, map["fileName"]);
  bindField(curriculumId, map["curriculumId"]);
}
