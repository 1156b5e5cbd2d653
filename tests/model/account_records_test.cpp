#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "model/add_password_request.h"
#include "model/change_password_request.h"
#include "model/external_register_request.h"
#include "model/login_request.h"
#include "model/login_response.h"
#include "model/mappable_array.h"
#include "model/modify_external_profile_request.h"
#include "model/password_recovery_request.h"
#include "model/register_request.h"
#include "model/school_response.h"
#include "model/user_profile_response.h"
#include "record_test_support.h"

namespace {

TEST(AccountRecordsTest, RequestsWriteTheirKeysAndNothingWhenEmpty) {
  EXPECT_EQ(LoginRequest().encode(), "{}");
  EXPECT_EQ(PasswordRecoveryRequest().encode(), "{}");
  EXPECT_EQ(ChangePasswordRequest().encode(), "{}");
  EXPECT_EQ(AddPasswordRequest().encode(), "{}");
  EXPECT_EQ(RegisterRequest().encode(), "{}");
  EXPECT_EQ(ExternalRegisterRequest().encode(), "{}");
  EXPECT_EQ(ModifyExternalProfileRequest().encode(), "{}");

  LoginRequest login;
  login.userName = "ana@example.org";
  login.password = "p\"w";
  EXPECT_EQ(parsedJSON(login.encode()), parsedJSON(R"({"userName":"ana@example.org","password":"p\"w"})"));

  PasswordRecoveryRequest recovery;
  recovery.userName = "ana@example.org";
  EXPECT_EQ(parsedJSON(recovery.encode()), parsedJSON(R"({"userName":"ana@example.org"})"));

  ChangePasswordRequest change;
  change.oldPassword = "a";
  change.newPassword = "b";
  EXPECT_EQ(parsedJSON(change.encode()), parsedJSON(R"({"oldPassword":"a","newPassword":"b"})"));

  AddPasswordRequest add;
  add.newPassword = "n";
  EXPECT_EQ(parsedJSON(add.encode()), parsedJSON(R"({"newPassword":"n"})"));

  ModifyExternalProfileRequest modify;
  modify.provider = "zedodo";
  modify.token = "t";
  EXPECT_EQ(parsedJSON(modify.encode()), parsedJSON(R"({"provider":"zedodo","token":"t"})"));
}

TEST(AccountRecordsTest, RegistrationSendsSchoolsUnderSchoolId) {
  RegisterRequest request;
  request.userName = "u";
  request.firstName = "F";
  request.lastName = "L";
  request.password = "p1";
  request.confirmPassword = "p2";
  EXPECT_EQ(parsedJSON(request.encode()),
            parsedJSON(
                R"({"userName":"u","firstName":"F","lastName":"L","password":"p1","confirmPassword":"p2"})"));
  request.schools = std::vector<std::int64_t>{};
  EXPECT_EQ(parsedJSON(request.encode())["schoolId"], nlohmann::json::array());
  request.schools = std::vector<std::int64_t>{3, 7};
  EXPECT_EQ(parsedJSON(request.encode())["schoolId"], nlohmann::json({3, 7}));
  EXPECT_FALSE(parsedJSON(request.encode()).contains("schools"));

  ExternalRegisterRequest external;
  external.userName = "u";
  external.firstName = "F";
  external.lastName = "L";
  external.token = "tok";
  external.provider = "facebook";
  EXPECT_EQ(
      parsedJSON(external.encode()),
      parsedJSON(R"({"userName":"u","firstName":"F","lastName":"L","token":"tok","provider":"facebook"})"));
  external.schools = std::vector<std::int64_t>{3, 7};
  EXPECT_EQ(parsedJSON(external.encode())["schoolId"], nlohmann::json({3, 7}));
}

constexpr const char* kSchool =
    R"({"id":5,"universityId":1,"facultyId":2,"departmentId":3,"universityName":"U","facultyName":"F",)"
    R"("departmentName":"D","name":"S"})";

TEST(AccountRecordsTest, FullRepliesDecodeEveryField) {
  EXPECT_TRUE(roundTrips<LoginResponse>(R"({"token":"abc","userName":"ana","provider":"basic"})"));
  EXPECT_TRUE(roundTrips<SchoolResponse>(kSchool));
  const std::string profile =
      std::string(R"({"isConfirmed":true,"firstName":"Ana","lastName":"Vale",)") +
      R"("id":"u-17","userName":"ana@example.org","profilePicturePath":"/p/a.png",)" + R"("school":[)" +
      kSchool + R"(,{"id":6}],"hasFacebook":false,"hasZedodo":true,)" + R"("hasPassword":true})";
  EXPECT_TRUE(roundTrips<UserProfileResponse>(profile));
  const auto decoded = UserProfileResponse::decode(profile);
  ASSERT_EQ(decoded->schools->size(), 2u);
  EXPECT_EQ((*decoded->schools)[1].id, 6);
  EXPECT_FALSE((*decoded->schools)[1].name);

  // The school list uses the same keys as the nested schools.
  const auto schools = MappableArray<SchoolResponse>::decode(std::string("[") + kSchool + "]");
  ASSERT_EQ(schools.size(), 1u);
  EXPECT_EQ(schools[0].name, "S");
  EXPECT_EQ(schools[0].departmentId, 3);
}

TEST(AccountRecordsTest, UserProfileResponseAbsentAndMistypedKeys) {
  const auto login = LoginResponse::decode(R"({"token":"abc","userName":null})");
  EXPECT_EQ(login->token, "abc");
  EXPECT_FALSE(login->userName);
  EXPECT_FALSE(login->provider);

  auto profile = UserProfileResponse::decode(R"({"id":17,"firstName":"Ana","hasFacebook":"no"})");
  ASSERT_TRUE(profile);
  EXPECT_FALSE(profile->id);
  EXPECT_EQ(profile->firstName, "Ana");
  EXPECT_FALSE(profile->hasFacebook);
  EXPECT_FALSE(profile->schools);
  EXPECT_FALSE(profile->profilePicturePath);
  EXPECT_FALSE(profile->isConfirmed);

  EXPECT_FALSE(UserProfileResponse::decode(R"({"school":null})")->schools);
  profile = UserProfileResponse::decode(R"({"school":[]})");
  ASSERT_TRUE(profile->schools);
  EXPECT_TRUE(profile->schools->empty());
}

}  // namespace
