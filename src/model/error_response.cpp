#include "model/error_response.h"

#include "platform/json/bind.h"

void ErrorResponse::mapping(Map& map) {
  bindField(message, map["errorMessage"]);
  bindField(code, map["errorCode"]);
}
