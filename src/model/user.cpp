#include "model/user.h"

#include "model/model_url_builder.h"

std::shared_ptr<User> User::init(const UserProfileResponse& record) {
  if (!record.firstName || !record.lastName || !record.id || !record.userName) return nullptr;
  if (!record.hasFacebook || !record.hasZedodo || !record.hasPassword) return nullptr;
  std::shared_ptr<User> user(new User());
  user->firstName_ = *record.firstName;
  user->lastName_ = *record.lastName;
  user->id_ = *record.id;
  user->userName_ = *record.userName;
  user->hasFacebook_ = *record.hasFacebook;
  user->hasZedodo_ = *record.hasZedodo;
  user->hasPassword_ = *record.hasPassword;
  user->profilePicturePath_ = ModelUrlBuilder::buildUrlIfPresent(record.profilePicturePath);
  user->schools_ = record.schools;
  return user;
}
