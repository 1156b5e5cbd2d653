#include "platform/ui/ui_search_bar.h"

#include "platform/ui/render.h"

// Turns the inner field's events into the bar's delegate calls.
class UISearchBar::FieldDelegate : public UITextFieldDelegate {
 public:
  explicit FieldDelegate(UISearchBar& bar) : bar_(bar) {}
  bool textFieldShouldBeginEditing(UITextField&) override {
    auto d = bar_.delegate();
    return !d || d->searchBarShouldBeginEditing(bar_);
  }
  void textFieldDidBeginEditing(UITextField&) override {
    if (auto d = bar_.delegate()) d->searchBarTextDidBeginEditing(bar_);
  }
  bool textFieldShouldEndEditing(UITextField&) override {
    auto d = bar_.delegate();
    return !d || d->searchBarShouldEndEditing(bar_);
  }
  void textFieldDidEndEditing(UITextField&) override {
    if (auto d = bar_.delegate()) d->searchBarTextDidEndEditing(bar_);
  }
  bool shouldChangeCharactersInRange(UITextField&, NSRange range, const std::string& replacement) override {
    auto d = bar_.delegate();
    return !d || d->shouldChangeTextInRange(bar_, range, replacement);
  }
  bool textFieldShouldReturn(UITextField&) override {
    if (auto d = bar_.delegate()) d->searchBarSearchButtonClicked(bar_);
    return true;
  }

 private:
  UISearchBar& bar_;  // the bar owns this object
};

std::shared_ptr<UISearchBar> UISearchBar::make(CGRect frame) { return std::make_shared<UISearchBar>(frame); }

UISearchBar::UISearchBar(CGRect frame) : UIView(frame) {}

std::shared_ptr<UITextField> UISearchBar::searchTextField() const {
  if (!field_) {
    auto* self = const_cast<UISearchBar*>(this);
    field_ = UITextField::make(bounds());
    field_->setPlaceholder(placeholder_);
    fieldDelegate_ = std::make_shared<FieldDelegate>(*self);
    field_->setDelegate(fieldDelegate_);
    std::weak_ptr<UIResponder> weakBar = self->weak_from_this();
    field_->addTarget(
        [weakBar](UIControl& sender, const UIEvent*) {
          auto bar = std::static_pointer_cast<UISearchBar>(weakBar.lock());
          if (!bar) return;  // the field outlived its bar
          if (auto d = bar->delegate()) d->textDidChange(*bar, static_cast<UITextField&>(sender).text().value_or(""));
        },
        UIControlEvents::EditingChanged);
    self->addSubview(field_);
  }
  return field_;
}

std::optional<std::string> UISearchBar::text() const { return searchTextField()->text(); }

void UISearchBar::setText(std::optional<std::string> text) { searchTextField()->setText(std::move(text)); }

void UISearchBar::setPlaceholder(std::optional<std::string> p) {
  placeholder_ = std::move(p);
  searchTextField()->setPlaceholder(placeholder_);
}

bool UISearchBar::becomeFirstResponder() { return searchTextField()->becomeFirstResponder(); }

bool UISearchBar::resignFirstResponder() { return searchTextField()->resignFirstResponder(); }

bool UISearchBar::isFirstResponder() const { return searchTextField()->isFirstResponder(); }

bool UISearchBar::typeText(const std::string& text) {
  auto keep = weak_from_this().lock();
  return searchTextField()->typeText(text);
}

bool UISearchBar::clickSearchButton() {
  if (!canReceiveTouches()) return false;
  auto keep = weak_from_this().lock();
  if (auto d = delegate()) d->searchBarSearchButtonClicked(*this);
  return true;
}

bool UISearchBar::clickCancelButton() {
  if (!showsCancelButton_ || !canReceiveTouches()) return false;
  auto keep = weak_from_this().lock();
  if (auto d = delegate()) d->searchBarCancelButtonClicked(*this);
  return true;
}

void UISearchBar::renderSelf(TextCanvas& canvas) const {
  TextCanvas field;
  searchTextField()->render(field);
  std::string line = "search " + field.joined(" ");
  if (showsCancelButton_) line += " [Cancel]";
  if (!accessibilityIdentifier().empty() && searchTextField()->accessibilityIdentifier().empty()) {
    line += " #" + accessibilityIdentifier();
  }
  canvas.line(line);
}
