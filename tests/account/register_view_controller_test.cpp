#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "account/register_view_controller.h"
#include "account/school_select_view_controller.h"
#include "account_fixture.h"
#include "platform/ui/render.h"
#include "platform/ui/ui_table_view.h"

namespace {

using Ids = std::vector<std::int64_t>;

struct RecordingLoginDelegate : LoginDelegate {
  void shouldSignInWithFacebook() override { calls.push_back("facebook"); }
  void shouldSignInWithZedodo() override { calls.push_back("zedodo"); }
  void shouldSignIn() override { calls.push_back("email"); }
  std::vector<std::string> calls;
};

class RegisterScreenTest : public AccountTest {
 protected:
  // Opened from the login screen, whose part as the login delegate the recorder takes.
  std::shared_ptr<RegisterViewController> showRegistration() {
    showLogin()->registerButton.lock()->tap();
    time.runUntilIdle();
    auto form = top<RegisterViewController>();
    form->setLoginDelegate(loginDelegate);
    return form;
  }
  // Last name, first name, e-mail, password, confirmation.
  static void fill(RegisterViewController& form, const std::array<std::string, 5>& texts) {
    const std::array fields = {form.lastNameTextField, form.firstNameTextField, form.emailTextField,
                               form.passwordTextField, form.confirmPasswordTextField};
    for (std::size_t i = 0; i < fields.size(); ++i) fields[i].lock()->setText(texts[i]);
  }
  // The school list opened from `form`, once its rows are in.
  std::shared_ptr<SchoolSelectViewController> openSchools(RegisterViewController& form) {
    form.selectSchoolButton.lock()->tap();
    auto list = top<SchoolSelectViewController>();
    EXPECT_TRUE(time.runUntil([&] { return !list->schools().empty(); }, 10));
    return list;
  }
  std::shared_ptr<RecordingLoginDelegate> loginDelegate = std::make_shared<RecordingLoginDelegate>();
};

// The empty form, every rule broken, is the registration console script's.
TEST_F(RegisterScreenTest, AnInvalidFormListsEveryBrokenRuleInOrder) {
  auto form = showRegistration();
  const std::string confirm = "Please confirm your password.\n", differ = "The two passwords do not match.";
  const std::array<std::string, 3> cases[] = {{"secret", "secreT", differ},
                                              {"short", "short", "The password must be at least 6 characters long."},
                                              {"secret", "", confirm + differ}};
  for (const auto& [password, confirmation, message] : cases) {
    fill(*form, {"B", "A", "a@example.com", password, confirmation});
    form->registerButton.lock()->tap();
    EXPECT_EQ(answerAlert(), "Please check your input | " + message);
  }
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(RegisterScreenTest, ARegistrationIsConfirmedThenPopsAndAsksTheLoginScreenToSignIn) {
  auto form = showRegistration();
  // The two passwords are one text in two normal forms; blanks around names are sent.
  fill(*form, {" Byron ", "Ada", "ada@example.com", "caf\u00e9 12", "cafe\u0301 12"});
  reply("Account/TabletRegister", 400, R"({"errorMessage":"Taken"})");
  form->registerButton.lock()->tap();
  EXPECT_EQ(answerAlert(), "Taken | -");
  EXPECT_EQ(lastBody(), nlohmann::json::parse(R"({"userName":"ada@example.com","firstName":"Ada","lastName":" Byron ",
      "password":"caf\u00e9 12","confirmPassword":"cafe\u0301 12","schoolId":[]})"));

  reply("Account/TabletRegister", 200, R"({"token":"new"})");
  form->registerButton.lock()->tap();
  ASSERT_TRUE(time.runUntil([&] { return alert() != nullptr; }, 10));
  EXPECT_EQ(top<RegisterViewController>(), form) << "the form stays until the alert is closed";
  EXPECT_TRUE(loginDelegate->calls.empty());
  EXPECT_EQ(answerAlert(), "Your registration was successful. | -");
  EXPECT_EQ(loginDelegate->calls, std::vector<std::string>{"email"});

  auto again = showRegistration();
  loginDelegate.reset();  // gone by the time the alert closes: skipped
  fill(*again, {"Byron", "Ada", "ada2@example.com", "secret", "secret"});
  again->registerButton.lock()->tap();
  answerAlert();
  EXPECT_NE(top<LoginViewController>(), nullptr);
}

TEST_F(RegisterScreenTest, TheSchoolListMarksTheChoiceAndReportsEveryToggle) {
  auto form = showRegistration();
  form->setSchools({2, 4, 99});
  // A failed load leaves the list empty without a word, behind the overlay while it runs.
  reply("Tablet/GetSchools", 500, R"({"errorMessage":"down"})", 0.3, "GET");
  form->selectSchoolButton.lock()->tap();
  time.advance(0.6);
  EXPECT_TRUE(overlayShown());
  ASSERT_TRUE(time.runUntil([] { return !overlayShown(); }, 10));
  time.runUntilIdle();
  EXPECT_EQ(top<SchoolSelectViewController>()->tableView()->numberOfRowsInSection(0), 0);
  EXPECT_EQ(alert(), nullptr);
  navigation()->tapBackButton();

  reply("Tablet/GetSchools", 200,
        R"([{"id":1,"universityName":"Uni","facultyName":"Arts","departmentName":"Dept"},
            {"id":2,"universityName":"Uni","departmentName":"Dept"},
            {"universityName":"Lost","facultyName":"No","departmentName":"Id"},
            {"id":4,"universityName":"Tech","facultyName":"Eng","departmentName":"CS"}])",
        0, "GET");
  auto list = openSchools(*form);
  EXPECT_EQ(renderOnOneLine(*list->tableView()),
            "0. Uni Arts Dept | 1. Uni nil Dept | ✓ | 2. Lost No Id | 3. Tech Eng CS | ✓");
  EXPECT_EQ(form->schools(), (Ids{2, 4, 99})) << "nothing reported before a toggle";
  // Ids come in row order; the unknown id drops out; the school without id adds none.
  const std::vector<std::pair<int, Ids>> toggles = {{3, {2}}, {0, {1, 2}}, {2, {1, 2}}, {0, {2}},
                                                    {1, {}},  {2, {}},     {3, {4}}};
  for (const auto& [row, reported] : toggles) {
    list->tableView()->tapRowAtIndexPath({0, row});
    EXPECT_EQ(form->schools(), reported) << "row " << row;
  }
  EXPECT_EQ(renderOnOneLine(*list->tableView()),
            "0. Uni Arts Dept | 1. Uni nil Dept | 2. Lost No Id | 3. Tech Eng CS | ✓ (selected)");

  navigation()->tapBackButton();
  EXPECT_EQ(openSchools(*form)->selectedIndexes(), std::set<int>{3}) << "reopened with the choice marked";
}

}  // namespace
