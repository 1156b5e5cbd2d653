#include "model/login_request.h"

#include "platform/json/bind.h"

void LoginRequest::mapping(Map& map) {
  bindField(userName, map["userName"]);
  bindField(password, map["password"]);
}
