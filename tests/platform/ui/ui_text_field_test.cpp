#include "platform/ui/ui_text_field.h"

#include <gtest/gtest.h>

#include "platform/ui/ui_search_bar.h"

namespace {

class RecordingDelegate : public UITextFieldDelegate {
 public:
  bool textFieldShouldBeginEditing(UITextField&) override {
    log.push_back("shouldBegin");
    return allowBegin;
  }
  bool textFieldShouldEndEditing(UITextField&) override {
    log.push_back("shouldEnd");
    return allowEnd;
  }
  void textFieldDidEndEditing(UITextField&) override { log.push_back("didEnd"); }
  bool shouldChangeCharactersInRange(UITextField&, NSRange, const std::string& replacement) override {
    return replacement.find_first_of("0123456789") == std::string::npos;  // no digits
  }
  bool textFieldShouldReturn(UITextField&) override {
    log.push_back("shouldReturn");
    return true;
  }

  std::vector<std::string> log;
  bool allowBegin = true;
  bool allowEnd = true;
};

class SearchRecorder : public UISearchBarDelegate {
 public:
  void textDidChange(UISearchBar&, const std::string& text) override { texts.push_back(text); }
  void searchBarSearchButtonClicked(UISearchBar&) override { ++searches; }
  void searchBarTextDidEndEditing(UISearchBar&) override { ++ends; }
  std::vector<std::string> texts;
  int searches = 0;
  int ends = 0;
};

}  // namespace

TEST(UITextFieldTest, DelegateVetoesBeginChangeAndEnd) {
  auto window = UIView::make();
  auto field = UITextField::make();
  auto other = UITextField::make();
  window->addSubview(field);
  window->addSubview(other);
  auto delegate = std::make_shared<RecordingDelegate>();
  field->setDelegate(delegate);
  std::vector<std::string> events;
  field->addTarget([&](UIControl&, const UIEvent*) { events.push_back("begin"); }, UIControlEvents::EditingDidBegin);
  field->addTarget([&](UIControl&, const UIEvent*) { events.push_back("changed"); }, UIControlEvents::EditingChanged);
  field->addTarget([&](UIControl&, const UIEvent*) { events.push_back("end"); }, UIControlEvents::EditingDidEnd);

  delegate->allowBegin = false;
  EXPECT_FALSE(field->typeText("abc"));
  EXPECT_FALSE(field->isFirstResponder());
  delegate->allowBegin = true;

  // Typing is one edit, as a paste: the digit vetoes all of it.
  field->setText("old");
  EXPECT_TRUE(field->typeText("a1b"));
  EXPECT_EQ(field->text(), "old");
  EXPECT_TRUE(field->typeText("ab"));
  EXPECT_EQ(field->text(), "ab");
  EXPECT_EQ(events, (std::vector<std::string>{"begin", "changed"}));

  // The delegate keeps the field editing: the other field cannot take over.
  delegate->allowEnd = false;
  EXPECT_FALSE(other->becomeFirstResponder());
  EXPECT_TRUE(field->isFirstResponder());
  EXPECT_FALSE(window->endEditing(false));
  EXPECT_TRUE(field->isFirstResponder());
  // Forced: no question asked, the end is still reported.
  delegate->log.clear();
  EXPECT_TRUE(window->endEditing(true));
  EXPECT_FALSE(field->isFirstResponder());
  EXPECT_EQ(delegate->log, std::vector<std::string>{"didEnd"});
  EXPECT_EQ(events.back(), "end");

  // Typing into a disabled field does nothing.
  field->setEnabled(false);
  EXPECT_FALSE(field->typeText("zz"));
  EXPECT_EQ(field->text(), "ab");
}

TEST(UITextFieldTest, ReturnKeyResignsOnlyWhenSomethingListens) {
  auto window = UIView::make();
  auto field = UITextField::make();
  window->addSubview(field);
  auto delegate = std::make_shared<RecordingDelegate>();
  field->setDelegate(delegate);
  EXPECT_FALSE(field->pressReturn());  // not editing
  field->becomeFirstResponder();
  EXPECT_TRUE(field->pressReturn());
  EXPECT_TRUE(field->isFirstResponder());
  int exits = 0;
  field->addTarget([&](UIControl&, const UIEvent*) { ++exits; }, UIControlEvents::EditingDidEndOnExit);
  EXPECT_TRUE(field->pressReturn());
  EXPECT_EQ(exits, 1);
  EXPECT_FALSE(field->isFirstResponder());
}

TEST(UITextFieldTest, RangesCountUtf16Units) {
  EXPECT_EQ(utf16Length("a\u00e9\U0001F600"), 4u);
  EXPECT_EQ(stringByReplacingCharactersInRange("a\U0001F600b", NSRange{1, 2}, "x"), "axb");
  EXPECT_EQ(stringByReplacingCharactersInRange("a\U0001F600b", NSRange{2, 1}, "x"), std::nullopt);  // half an emoji
  EXPECT_EQ(stringByReplacingCharactersInRange("ab", NSRange{1, 5}, "x"), std::nullopt);
  EXPECT_EQ(stringByReplacingCharactersInRange("ab", NSRange{2, 0}, "c"), "abc");
}

TEST(UISearchBarTest, UserEditsReachTheDelegateButCodeChangesDoNot) {
  auto root = UIView::make();
  auto bar = UISearchBar::make();
  root->addSubview(bar);
  auto delegate = std::make_shared<SearchRecorder>();
  bar->setDelegate(delegate);
  bar->setText("preset");
  EXPECT_TRUE(delegate->texts.empty());

  EXPECT_TRUE(bar->typeText("ab"));
  EXPECT_EQ(delegate->texts, (std::vector<std::string>{"ab"}));
  EXPECT_TRUE(bar->isFirstResponder());
  EXPECT_TRUE(bar->searchTextField()->pressReturn());
  EXPECT_EQ(delegate->searches, 1);
  EXPECT_FALSE(bar->clickCancelButton());  // no cancel button shown

  root->endEditing(false);
  EXPECT_FALSE(bar->isFirstResponder());
  EXPECT_EQ(delegate->ends, 1);
  EXPECT_EQ(bar->text(), "ab");

  // The field may outlive its bar: edits then reach nobody.
  auto field = bar->searchTextField();
  root.reset();
  bar.reset();
  EXPECT_TRUE(field->typeText("x"));
  EXPECT_EQ(delegate->texts.size(), 1u);
}
