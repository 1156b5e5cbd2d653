#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/school_response.h"
#include "model/user_profile_response.h"

// The signed-in user as the screens see it.
class User {
 public:
  // Nothing when one of the names, the id, the user name or the three account flags is missing.
  static std::shared_ptr<User> init(const UserProfileResponse& record);

  const std::string& firstName() const { return firstName_; }
  void setFirstName(std::string firstName) { firstName_ = std::move(firstName); }
  const std::string& lastName() const { return lastName_; }
  void setLastName(std::string lastName) { lastName_ = std::move(lastName); }
  const std::string& id() const { return id_; }
  void setId(std::string id) { id_ = std::move(id); }
  // The account's e-mail address.
  const std::string& userName() const { return userName_; }
  void setUserName(std::string userName) { userName_ = std::move(userName); }
  // The absolute URL of the profile picture.
  const std::optional<std::string>& profilePicturePath() const { return profilePicturePath_; }
  void setProfilePicturePath(std::optional<std::string> path) { profilePicturePath_ = std::move(path); }
  // Absent and empty are different answers of the backend.
  const std::optional<std::vector<SchoolResponse>>& schools() const { return schools_; }
  void setSchools(std::optional<std::vector<SchoolResponse>> schools) { schools_ = std::move(schools); }
  bool hasFacebook() const { return hasFacebook_; }
  void setHasFacebook(bool hasFacebook) { hasFacebook_ = hasFacebook; }
  bool hasZedodo() const { return hasZedodo_; }
  void setHasZedodo(bool hasZedodo) { hasZedodo_ = hasZedodo; }
  bool hasPassword() const { return hasPassword_; }
  void setHasPassword(bool hasPassword) { hasPassword_ = hasPassword; }

 private:
  User() = default;

  std::string firstName_;
  std::string lastName_;
  std::string id_;
  std::string userName_;
  std::optional<std::string> profilePicturePath_;
  std::optional<std::vector<SchoolResponse>> schools_;
  bool hasFacebook_ = false;
  bool hasZedodo_ = false;
  bool hasPassword_ = false;
};
