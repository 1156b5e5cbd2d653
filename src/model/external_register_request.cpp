#include "model/external_register_request.h"

#include "platform/json/bind.h"

void ExternalRegisterRequest::mapping(Map& map) {
  bindField(userName, map["userName"]);
  bindField(firstName, map["firstName"]);
  bindField(lastName, map["lastName"]);
  bindField(token, map["token"]);
  bindField(schools, map["schoolId"]);
  bindField(provider, map["provider"]);
}
