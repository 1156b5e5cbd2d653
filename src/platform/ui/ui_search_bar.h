#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ui_text_field.h"
#include "platform/ui/ui_view.h"

class UISearchBar;

// Every method has the platform's default answer.
class UISearchBarDelegate {
 public:
  virtual ~UISearchBarDelegate() = default;
  virtual bool searchBarShouldBeginEditing(UISearchBar&) { return true; }
  virtual void searchBarTextDidBeginEditing(UISearchBar&) {}
  virtual bool searchBarShouldEndEditing(UISearchBar&) { return true; }
  virtual void searchBarTextDidEndEditing(UISearchBar&) {}
  virtual bool shouldChangeTextInRange(UISearchBar&, NSRange, const std::string& /*replacement*/) { return true; }
  virtual void textDidChange(UISearchBar&, const std::string& /*searchText*/) {}
  virtual void searchBarSearchButtonClicked(UISearchBar&) {}
  virtual void searchBarCancelButtonClicked(UISearchBar&) {}
};

// A search field. Its text field (a subview) holds the text and the first responder; the delegate
// hears of the user's edits (textDidChange per keystroke), never of text set in code.
class UISearchBar : public UIView {
 public:
  static std::shared_ptr<UISearchBar> make(CGRect frame = {});
  explicit UISearchBar(CGRect frame = {});
  explicit UISearchBar(const NSCoder&) : UISearchBar(CGRect{}) {}

  std::optional<std::string> text() const;
  void setText(std::optional<std::string> text);
  const std::optional<std::string>& placeholder() const { return placeholder_; }
  void setPlaceholder(std::optional<std::string> p);
  std::shared_ptr<UISearchBarDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<UISearchBarDelegate> d) { delegate_ = std::move(d); }
  bool showsCancelButton() const { return showsCancelButton_; }
  void setShowsCancelButton(bool s) { showsCancelButton_ = s; }
  const std::optional<UIColor>& barTintColor() const { return barTintColor_; }
  void setBarTintColor(std::optional<UIColor> c) { barTintColor_ = std::move(c); }

  // Made on first use; a subview of the bar.
  std::shared_ptr<UITextField> searchTextField() const;

  bool canBecomeFirstResponder() const override { return true; }
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;
  bool isFirstResponder() const override;

  // User input, refused (false) when the bar cannot be used by a finger.
  // Taps the bar, replaces the text and types `text` one character at a time.
  bool typeText(const std::string& text);
  bool clickSearchButton();
  // Only while the cancel button shows.
  bool clickCancelButton();

 protected:
  void renderSelf(TextCanvas& canvas) const override;
  void renderSubviews(TextCanvas&) const override {}

 private:
  class FieldDelegate;
  std::optional<std::string> placeholder_;
  std::weak_ptr<UISearchBarDelegate> delegate_;
  bool showsCancelButton_ = false;
  std::optional<UIColor> barTintColor_;
  mutable std::shared_ptr<UITextField> field_;
  mutable std::shared_ptr<FieldDelegate> fieldDelegate_;
};
