#include "model/modify_external_profile_request.h"

#include "platform/json/bind.h"

void ModifyExternalProfileRequest::mapping(Map& map) {
  bindField(provider, map["provider"]);
  bindField(token, map["token"]);
}
