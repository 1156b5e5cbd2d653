#include "model/register_request.h"

#include "platform/json/bind.h"

void RegisterRequest::mapping(Map& map) {
  bindField(userName, map["userName"]);
  bindField(firstName, map["firstName"]);
  bindField(lastName, map["lastName"]);
  bindField(password, map["password"]);
  bindField(confirmPassword, map["confirmPassword"]);
  bindField(schools, map["schoolId"]);
}
