#include "model/add_password_request.h"

#include "platform/json/bind.h"

void AddPasswordRequest::mapping(Map& map) { bindField(newPassword, map["newPassword"]); }
