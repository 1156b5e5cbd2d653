#include "model/change_password_request.h"

#include "platform/json/bind.h"

void ChangePasswordRequest::mapping(Map& map) {
  bindField(oldPassword, map["oldPassword"]);
  bindField(newPassword, map["newPassword"]);
}
