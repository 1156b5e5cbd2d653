#include "model/user_profile_response.h"

#include "platform/json/bind.h"

void UserProfileResponse::mapping(Map& map) {
  bindField(isConfirmed, map["isConfirmed"]);
  bindField(firstName, map["firstName"]);
  bindField(lastName, map["lastName"]);
  bindField(id, map["id"]);
  bindField(userName, map["userName"]);
  bindField(profilePicturePath, map["profilePicturePath"]);
  bindField(schools, map["school"]);
  bindField(hasFacebook, map["hasFacebook"]);
  bindField(hasZedodo, map["hasZedodo"]);
  bindField(hasPassword, map["hasPassword"]);
}
