#include "platform/ui/ui_text_field.h"

#include <vector>

#include "platform/ui/render.h"

namespace {

// Byte length of the UTF-8 sequence starting with `lead` (1 for a stray byte).
std::size_t sequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

// The characters (code points) of `text`, each as its UTF-8 bytes.
std::vector<std::string> characters(const std::string& text) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n = std::min(sequenceLength(static_cast<unsigned char>(text[i])), text.size() - i);
    out.push_back(text.substr(i, n));
    i += n;
  }
  return out;
}

// Byte offset of UTF-16 offset `units`, or nothing when it is past the end or inside a character.
std::optional<std::size_t> byteOffset(const std::string& text, std::size_t units) {
  std::size_t bytes = 0, seen = 0;
  while (seen < units) {
    if (bytes >= text.size()) return std::nullopt;
    std::size_t n = std::min(sequenceLength(static_cast<unsigned char>(text[bytes])), text.size() - bytes);
    seen += n == 4 ? 2 : 1;
    bytes += n;
  }
  if (seen != units) return std::nullopt;
  return bytes;
}

}  // namespace

std::size_t utf16Length(const std::string& text) {
  std::size_t units = 0;
  for (const auto& c : characters(text)) units += c.size() == 4 ? 2 : 1;
  return units;
}

std::optional<std::string> stringByReplacingCharactersInRange(const std::string& text, NSRange range,
                                                              const std::string& replacement) {
  auto from = byteOffset(text, range.location);
  auto to = byteOffset(text, range.location + range.length);
  if (!from || !to) return std::nullopt;
  return text.substr(0, *from) + replacement + text.substr(*to);
}

std::shared_ptr<UITextField> UITextField::make(CGRect frame) { return std::make_shared<UITextField>(frame); }

UITextField::UITextField(CGRect frame) : UIControl(frame) {}

void UITextField::setPlaceholder(std::optional<std::string> p) {
  placeholder_ = std::move(p);
  attributedPlaceholder_.reset();
  if (placeholder_) attributedPlaceholder_ = NSAttributedString{*placeholder_, std::nullopt, std::nullopt};
}

void UITextField::setAttributedPlaceholder(std::optional<NSAttributedString> p) {
  attributedPlaceholder_ = std::move(p);
  placeholder_.reset();
  if (attributedPlaceholder_) placeholder_ = attributedPlaceholder_->string;
}

bool UITextField::canBecomeFirstResponder() const { return isEnabled() && isUserInteractionEnabled(); }

bool UITextField::becomeFirstResponder() {
  if (isFirstResponder()) return true;
  if (!canBecomeFirstResponder()) return false;
  auto keep = weak_from_this().lock();
  if (auto d = delegate(); d && !d->textFieldShouldBeginEditing(*this)) return false;
  if (!claimFirstResponder()) return false;
  editing_ = true;
  if (auto d = delegate()) d->textFieldDidBeginEditing(*this);
  sendActionsForControlEvents(UIControlEvents::EditingDidBegin);
  return true;
}

bool UITextField::resignFirstResponder() {
  if (!isFirstResponder()) return true;
  auto keep = weak_from_this().lock();
  if (auto d = delegate(); d && !d->textFieldShouldEndEditing(*this)) return false;
  finishEditing();
  return true;
}

void UITextField::forceResignFirstResponder() {
  if (!isFirstResponder()) return;
  auto keep = weak_from_this().lock();
  finishEditing();
}

void UITextField::finishEditing() {
  releaseFirstResponder();
  if (!editing_) return;
  editing_ = false;
  if (auto d = delegate()) d->textFieldDidEndEditing(*this);
  sendActionsForControlEvents(UIControlEvents::EditingDidEnd);
}

void UITextField::performTap() {
  sendActionsForControlEvents(UIControlEvents::TouchDown);
  becomeFirstResponder();
  sendActionsForControlEvents(UIControlEvents::TouchUpInside);
}

bool UITextField::replaceCharactersInRange(NSRange range, const std::string& replacement) {
  if (!isUsable() || !isFirstResponder()) return false;
  std::string current = text_.value_or("");
  auto changed = stringByReplacingCharactersInRange(current, range, replacement);
  if (!changed) return false;
  auto keep = weak_from_this().lock();
  if (auto d = delegate(); d && !d->shouldChangeCharactersInRange(*this, range, replacement)) return false;
  text_ = std::move(*changed);
  sendActionsForControlEvents(UIControlEvents::EditingChanged);
  return true;
}

bool UITextField::typeText(const std::string& text) {
  if (!tap() || !isFirstResponder()) return false;
  auto keep = weak_from_this().lock();
  // One replacement, as a paste would: a character at a time re-measures the text each time.
  replaceCharactersInRange(NSRange{0, utf16Length(text_.value_or(""))}, text);
  return true;
}

bool UITextField::clearText() {
  if (!isUsable()) return false;
  auto keep = weak_from_this().lock();
  if (auto d = delegate(); d && !d->textFieldShouldClear(*this)) return false;
  text_ = std::string();
  sendActionsForControlEvents(UIControlEvents::EditingChanged);
  return true;
}

bool UITextField::pressReturn() {
  if (!isFirstResponder()) return false;
  auto keep = weak_from_this().lock();
  if (auto d = delegate(); d && !d->textFieldShouldReturn(*this)) return false;
  bool listened = false;
  for (const auto& a : actions()) listened = listened || any(a.events & UIControlEvents::EditingDidEndOnExit);
  sendActionsForControlEvents(UIControlEvents::EditingDidEndOnExit | UIControlEvents::PrimaryActionTriggered);
  if (listened) resignFirstResponder();
  return true;
}

std::string UITextField::displayText() const {
  const std::string& t = text_ ? *text_ : std::string();
  if (t.empty()) return placeholder_ ? "(" + *placeholder_ + ")" : std::string();
  if (!secure_) return t;
  std::string dots;
  for (std::size_t i = characters(t).size(); i > 0; --i) dots += "\u2022";
  return dots;
}

void UITextField::renderSelf(TextCanvas& canvas) const {
  std::string line = "{" + displayText() + (isFirstResponder() ? "|" : "") + "}";
  if (!accessibilityIdentifier().empty()) line += " #" + accessibilityIdentifier();
  if (!isEnabled()) line += " (disabled)";
  canvas.line(line);
}
