#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "account/register_view_controller.h"
#include "account/school_select_view_controller.h"
#include "account_fixture.h"
#include "platform/ui/ui_table_view_cell.h"

namespace {

struct RecordingLoginDelegate : LoginDelegate {
  void shouldSignInWithFacebook() override { calls.push_back("facebook"); }
  void shouldSignInWithZedodo() override { calls.push_back("zedodo"); }
  void shouldSignIn() override { calls.push_back("email"); }
  std::vector<std::string> calls;
};

class RegisterScreenTest : public AccountTest {
 protected:
  std::shared_ptr<RegisterViewController> showRegistration() {
    showLogin()->registerButton.lock()->tap();
    time.runUntilIdle();
    auto registration = top<RegisterViewController>();
    registration->setLoginDelegate(loginDelegate);
    return registration;
  }
  // Last name, first name, e-mail, password, confirmation.
  static void fill(RegisterViewController& form, const std::array<std::string, 5>& texts) {
    form.lastNameTextField.lock()->setText(texts[0]);
    form.firstNameTextField.lock()->setText(texts[1]);
    form.emailTextField.lock()->setText(texts[2]);
    form.passwordTextField.lock()->setText(texts[3]);
    form.confirmPasswordTextField.lock()->setText(texts[4]);
  }
  std::shared_ptr<SchoolSelectViewController> openSchools(RegisterViewController& form) {
    form.selectSchoolButton.lock()->tap();
    time.runUntilIdle();
    return top<SchoolSelectViewController>();
  }
  // Each row's text, with " v" for a checkmark.
  static std::vector<std::string> rows(SchoolSelectViewController& list) {
    std::vector<std::string> shown;
    auto table = list.tableView();
    for (int row = 0; row < table->numberOfRowsInSection(0); ++row) {
      auto cell = table->cellForRowAtIndexPath({0, row});
      shown.push_back(cell->textLabel()->text().value_or("") +
                      (cell->accessoryType() == UITableViewCellAccessoryType::Checkmark ? " v" : ""));
    }
    return shown;
  }
  void replySchools() {
    reply("Tablet/GetSchools", 200,
          R"([{"id":1,"universityName":"Uni","facultyName":"Arts","departmentName":"Dept"},
              {"id":2,"universityName":"Uni","departmentName":"Dept"},
              {"universityName":"Lost","facultyName":"No","departmentName":"Id"},
              {"id":4,"universityName":"Tech","facultyName":"Eng","departmentName":"CS"}])",
          0, "GET");
  }

  std::shared_ptr<RecordingLoginDelegate> loginDelegate = std::make_shared<RecordingLoginDelegate>();
};

TEST_F(RegisterScreenTest, AnInvalidFormListsEveryBrokenRuleInOrder) {
  auto form = showRegistration();
  const std::string last = "Please enter your last name.", first = "Please enter your first name.",
                    email = "Please enter a valid e-mail address.",
                    password = "The password must be at least 6 characters long.",
                    confirm = "Please confirm your password.", differ = "The two passwords do not match.";
  struct Case {
    std::array<std::string, 5> texts;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"", "", "", "", ""}, last + "\n" + first + "\n" + email + "\n" + password + "\n" + confirm},
      {{"B", "A", "a@example.com", "secret", "secreT"}, differ},
      {{"B", "A", "a@example.com", "short", "short"}, password},
      {{"B", "A", "a@example.com", "secret", ""}, confirm + "\n" + differ},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    fill(*form, c.texts);
    form->registerButton.lock()->tap();
    EXPECT_EQ(alertTexts(), std::make_pair(std::string("Please check your input"), c.message));
    closeAlert();
  }
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(RegisterScreenTest, ARegistrationIsConfirmedThenPopsAndAsksTheLoginScreenToSignIn) {
  auto form = showRegistration();
  // The two passwords are the same text in two normal forms.
  fill(*form, {" Byron ", "Ada", "ada@example.com", "caf\u00e9 12", "cafe\u0301 12"});
  reply("Account/TabletRegister", 400, R"({"errorMessage":"An account with this e-mail address exists already"})");
  form->registerButton.lock()->tap();
  waitFor([&] { return alert() != nullptr; });
  EXPECT_EQ(alertTexts().first, "An account with this e-mail address exists already");
  closeAlert();
  EXPECT_EQ(lastBody(), (nlohmann::json{{"userName", "ada@example.com"},
                                        {"firstName", "Ada"},
                                        {"lastName", " Byron "},
                                        {"password", "caf\u00e9 12"},
                                        {"confirmPassword", "cafe\u0301 12"},
                                        {"schoolId", nlohmann::json::array()}}));

  reply("Account/TabletRegister", 200, R"({"token":"new"})");
  form->registerButton.lock()->tap();
  waitFor([&] { return alert() != nullptr; });
  EXPECT_EQ(alertTexts().first, "Your registration was successful.");
  EXPECT_EQ(top<RegisterViewController>(), form) << "the form stays until the alert is closed";
  EXPECT_TRUE(loginDelegate->calls.empty());
  closeAlert();
  EXPECT_NE(top<LoginViewController>(), nullptr);
  EXPECT_EQ(loginDelegate->calls, std::vector<std::string>{"email"});

  // A login screen gone by then is skipped.
  auto again = showRegistration();
  fill(*again, {"Byron", "Ada", "ada2@example.com", "secret", "secret"});
  again->registerButton.lock()->tap();
  waitFor([&] { return alert() != nullptr; });
  loginDelegate.reset();
  closeAlert();
  EXPECT_NE(top<LoginViewController>(), nullptr);
}

TEST_F(RegisterScreenTest, TheSchoolListMarksTheChoiceAndReportsEveryToggle) {
  auto form = showRegistration();
  replySchools();
  form->setSchools({2, 4, 99});
  auto list = openSchools(*form);
  ASSERT_NE(list, nullptr);
  waitFor([&] { return list->tableView()->numberOfRowsInSection(0) == 4; });
  EXPECT_FALSE(overlayShown());
  EXPECT_EQ(rows(*list), (std::vector<std::string>{"Uni Arts Dept", "Uni nil Dept v", "Lost No Id", "Tech Eng CS v"}));
  EXPECT_EQ(form->schools(), (std::vector<std::int64_t>{2, 4, 99})) << "nothing reported before a toggle";

  struct Toggle {
    int row;
    std::vector<std::int64_t> reported;
  };
  // Ids come in row order; the unknown id drops out; a school without id adds none.
  const std::vector<Toggle> toggles = {{3, {2}}, {0, {1, 2}}, {2, {1, 2}}, {0, {2}}, {1, {}}, {2, {}}};
  for (const auto& t : toggles) {
    list->tableView()->tapRowAtIndexPath({0, t.row});
    EXPECT_EQ(form->schools(), t.reported) << "row " << t.row;
  }
  list->tableView()->tapRowAtIndexPath({0, 3});
  EXPECT_EQ(rows(*list)[3], "Tech Eng CS v");

  // Going back keeps the choice, and the list opens again with it marked.
  navigation()->tapBackButton();
  time.runUntilIdle();
  EXPECT_EQ(form->schools(), std::vector<std::int64_t>{4});
  auto reopened = openSchools(*form);
  waitFor([&] { return reopened->tableView()->numberOfRowsInSection(0) == 4; });
  EXPECT_EQ(reopened->selectedIndexes(), std::set<int>{3});
}

TEST_F(RegisterScreenTest, AnEmptyOrFailedSchoolListStaysEmptyWithoutAWord) {
  auto form = showRegistration();
  form->setSchools({1});
  for (int status : {200, 500}) {
    reply("Tablet/GetSchools", status, status == 200 ? "[]" : R"({"errorMessage":"down"})", 0.3, "GET");
    auto list = openSchools(*form);
    time.advance(0.6);
    EXPECT_TRUE(overlayShown());
    waitFor([&] { return !overlayShown(); });
    time.runUntilIdle();
    EXPECT_EQ(list->tableView()->numberOfRowsInSection(0), 0);
    EXPECT_EQ(alert(), nullptr);
    EXPECT_EQ(form->schools(), std::vector<std::int64_t>{1});
    navigation()->tapBackButton();
    time.runUntilIdle();
  }
}

}  // namespace
