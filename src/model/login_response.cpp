#include "model/login_response.h"

#include "platform/json/bind.h"

void LoginResponse::mapping(Map& map) {
  bindField(token, map["token"]);
  bindField(userName, map["userName"]);
  bindField(provider, map["provider"]);
}
