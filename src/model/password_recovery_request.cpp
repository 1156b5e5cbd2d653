#include "model/password_recovery_request.h"

#include "platform/json/bind.h"

void PasswordRecoveryRequest::mapping(Map& map) { bindField(userName, map["userName"]); }
