#include "quiz/quiz_selector_button.h"

#include "model/color.h"
#include "platform/ui/ui_nib.h"
#include "quiz/quiz_support.h"

namespace {

template <class V>
void with(const std::weak_ptr<V>& view, const std::function<void(V&)>& change) {
  if (auto v = view.lock()) change(*v);
}

}  // namespace

std::shared_ptr<QuizSelectorButton> QuizSelectorButton::fromNib() {
  return firstNibObject<QuizSelectorButton>(kNibName);
}

void QuizSelectorButton::setUp(bool current) {
  with<UIImageView>(currentImageView, [](UIImageView& v) { v.setHidden(true); });
  with<UIImageView>(middleImageView, [this](UIImageView& v) { v.setTintColor(deselectedColor); });
  with<UIImageView>(currentImageView, [this](UIImageView& v) { v.setTintColor(currentColor); });
  with<UILabel>(numberLabel, [this](UILabel& l) { l.setTextColor(deselectedTextColor); });
  look_ = "";
  if (current) setCurrent();
}

void QuizSelectorButton::setCurrent() {
  with<UIImageView>(currentImageView, [](UIImageView& v) { v.setHidden(false); });
}

void QuizSelectorButton::unsetCurrent() {
  with<UIImageView>(currentImageView, [](UIImageView& v) { v.setHidden(true); });
}

void QuizSelectorButton::setSelectedLook() {
  look_ = "answered";
  with<UIImageView>(middleImageView, [this](UIImageView& v) { v.setTintColor(selectedColor); });
  with<UILabel>(numberLabel, [this](UILabel& l) { l.setTextColor(selectedTextColor); });
}

void QuizSelectorButton::unsetSelected() {
  look_ = "";
  with<UIImageView>(middleImageView, [this](UIImageView& v) { v.setTintColor(deselectedColor); });
  with<UILabel>(numberLabel, [this](UILabel& l) { l.setTextColor(deselectedTextColor); });
}

void QuizSelectorButton::setCorrect() {
  look_ = "correct";
  with<UIImageView>(middleImageView, [this](UIImageView& v) { v.setTintColor(correctColor); });
  with<UIImageView>(currentImageView, [this](UIImageView& v) { v.setTintColor(evaluateCurrentColor); });
  with<UILabel>(numberLabel, [this](UILabel& l) { l.setTextColor(evaluateTextColor); });
}

void QuizSelectorButton::setFalse() {
  look_ = "wrong";
  with<UIImageView>(middleImageView, [this](UIImageView& v) { v.setTintColor(falseColor); });
  with<UIImageView>(currentImageView, [this](UIImageView& v) { v.setTintColor(evaluateCurrentColor); });
  with<UILabel>(numberLabel, [this](UILabel& l) { l.setTextColor(evaluateTextColor); });
}

std::optional<std::string> QuizSelectorButton::bracketedTitle() const {
  auto number = numberLabel.lock();
  return number ? number->text().value_or("") : std::string();
}

void QuizSelectorButton::renderSelf(TextCanvas& canvas) const {
  auto marker = currentImageView.lock();
  std::string text = "[" + bracketedTitle().value_or("") + "]";
  if (marker && !marker->isHidden()) text += " current";
  if (*look_) text += std::string(" ") + look_;
  if (!accessibilityIdentifier().empty()) text += " #" + accessibilityIdentifier();
  canvas.line(text);
}

void registerQuizSelectorButtonNib() {
  UINib::registerNib(QuizSelectorButton::kNibName, [](UINibLoader& nib) -> std::vector<std::shared_ptr<UIView>> {
    auto button = nib.make<QuizSelectorButton>(nullptr, CGRectMake(0, 0, 41, 41));
    button->currentColor = button->evaluateCurrentColor = button->selectedColor = button->deselectedColor =
        quiz_colors::divider();
    button->falseColor = quiz_colors::wrongButton();
    button->correctColor = quiz_colors::rightButton();
    // The marker is the whole face, the body 4 points inside it.
    auto marker = nib.make<UIImageView>(button, CGRectMake(0, 0, 41, 41));
    marker->setUserInteractionEnabled(false);
    button->currentImageView = marker;
    auto body = nib.make<UIImageView>(button, CGRectMake(4, 4, 33, 33));
    body->setUserInteractionEnabled(false);
    button->middleImageView = body;
    auto number = nib.make<UILabel>(button, CGRectMake(4, 4, 33, 33));
    number->setTextAlignment(NSTextAlignment::Center);
    button->numberLabel = number;
    return {button};
  });
}
