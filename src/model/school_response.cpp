#include "model/school_response.h"

#include "platform/json/bind.h"

void SchoolResponse::mapping(Map& map) {
  bindField(id, map["id"]);
  bindField(universityId, map["universityId"]);
  bindField(facultyId, map["facultyId"]);
  bindField(departmentId, map["departmentId"]);
  bindField(universityName, map["universityName"]);
  bindField(facultyName, map["facultyName"]);
  bindField(departmentName, map["departmentName"]);
  bindField(name, map["name"]);
}
