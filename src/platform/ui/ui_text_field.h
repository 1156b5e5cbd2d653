#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ns_attributed_string.h"
#include "platform/ui/ui_color.h"
#include "platform/ui/ui_control.h"
#include "platform/ui/ui_font.h"
#include "platform/ui/ui_label.h"

// A range of UTF-16 code units, as the platform counts text.
struct NSRange {
  std::size_t location = 0;
  std::size_t length = 0;
  bool operator==(const NSRange&) const = default;
};

// Length of UTF-8 `text` in UTF-16 code units.
std::size_t utf16Length(const std::string& text);
// `text` with the UTF-16 `range` replaced; nothing when the range lies outside the text or splits
// a character.
std::optional<std::string> stringByReplacingCharactersInRange(const std::string& text, NSRange range,
                                                              const std::string& replacement);

enum class UIKeyboardType {
  Default,
  ASCIICapable,
  NumbersAndPunctuation,
  URL,
  NumberPad,
  PhonePad,
  NamePhonePad,
  EmailAddress,
  DecimalPad
};
enum class UIReturnKeyType { Default, Go, Join, Next, Route, Search, Send, Done, EmergencyCall, Continue };
enum class UITextAutocapitalizationType { None, Words, Sentences, AllCharacters };
enum class UITextAutocorrectionType { Default, No, Yes };
enum class UITextBorderStyle { None, Line, Bezel, RoundedRect };
enum class UITextFieldViewMode { Never, WhileEditing, UnlessEditing, Always };

class UITextField;

// Every method has the platform's default answer.
class UITextFieldDelegate {
 public:
  virtual ~UITextFieldDelegate() = default;
  virtual bool textFieldShouldBeginEditing(UITextField&) { return true; }
  virtual void textFieldDidBeginEditing(UITextField&) {}
  virtual bool textFieldShouldEndEditing(UITextField&) { return true; }
  virtual void textFieldDidEndEditing(UITextField&) {}
  virtual bool shouldChangeCharactersInRange(UITextField&, NSRange, const std::string& /*replacement*/) { return true; }
  virtual bool textFieldShouldClear(UITextField&) { return true; }
  virtual bool textFieldShouldReturn(UITextField&) { return true; }
};

// An editable one-line text. While it is the first responder it is editing and the keyboard is
// up; typing goes through the delegate's veto and sends EditingChanged; programmatic text changes
// send nothing.
class UITextField : public UIControl {
 public:
  static std::shared_ptr<UITextField> make(CGRect frame = {});
  explicit UITextField(CGRect frame = {});
  explicit UITextField(const NSCoder&) : UITextField(CGRect{}) {}

  // Empty text by default; may be set to nothing.
  const std::optional<std::string>& text() const { return text_; }
  void setText(std::optional<std::string> text) { text_ = std::move(text); }
  const std::optional<std::string>& placeholder() const { return placeholder_; }
  void setPlaceholder(std::optional<std::string> p);
  const std::optional<NSAttributedString>& attributedPlaceholder() const { return attributedPlaceholder_; }
  void setAttributedPlaceholder(std::optional<NSAttributedString> p);

  std::shared_ptr<UITextFieldDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<UITextFieldDelegate> d) { delegate_ = std::move(d); }

  bool isSecureTextEntry() const { return secure_; }
  void setSecureTextEntry(bool s) { secure_ = s; }
  UIKeyboardType keyboardType() const { return keyboardType_; }
  void setKeyboardType(UIKeyboardType t) { keyboardType_ = t; }
  UIReturnKeyType returnKeyType() const { return returnKeyType_; }
  void setReturnKeyType(UIReturnKeyType t) { returnKeyType_ = t; }
  UITextAutocapitalizationType autocapitalizationType() const { return autocapitalization_; }
  void setAutocapitalizationType(UITextAutocapitalizationType t) { autocapitalization_ = t; }
  UITextAutocorrectionType autocorrectionType() const { return autocorrection_; }
  void setAutocorrectionType(UITextAutocorrectionType t) { autocorrection_ = t; }
  UITextBorderStyle borderStyle() const { return borderStyle_; }
  void setBorderStyle(UITextBorderStyle s) { borderStyle_ = s; }
  UITextFieldViewMode clearButtonMode() const { return clearButtonMode_; }
  void setClearButtonMode(UITextFieldViewMode m) { clearButtonMode_ = m; }
  const std::optional<UIColor>& textColor() const { return textColor_; }
  void setTextColor(std::optional<UIColor> c) { textColor_ = std::move(c); }
  const UIFont& font() const { return font_; }
  void setFont(UIFont f) { font_ = std::move(f); }
  NSTextAlignment textAlignment() const { return textAlignment_; }
  void setTextAlignment(NSTextAlignment a) { textAlignment_ = a; }

  virtual CGRect textRectForBounds(CGRect bounds) const { return bounds; }
  virtual CGRect placeholderRectForBounds(CGRect bounds) const { return bounds; }
  virtual CGRect editingRectForBounds(CGRect bounds) const { return bounds; }

  bool isEditing() const { return editing_; }
  bool canBecomeFirstResponder() const override;
  // Asks the delegate, takes the first responder (the previous one resigns first), then reports
  // didBegin and EditingDidBegin.
  bool becomeFirstResponder() override;
  // Asks the delegate, lets go, then reports didEnd and EditingDidEnd. True when not editing.
  bool resignFirstResponder() override;

  // User input. Each is refused (false) when the field cannot be used by a finger.
  // One edit: the delegate may veto; otherwise the text changes and EditingChanged is sent.
  bool replaceCharactersInRange(NSRange range, const std::string& replacement);
  // Taps the field, selects all and replaces it with `text` in one edit, as a paste does.
  bool typeText(const std::string& text);
  // The clear button: the delegate may veto; otherwise the text empties (EditingChanged).
  bool clearText();
  // The return key while editing: when the delegate agrees, EditingDidEndOnExit is sent and, if
  // something listens to it, the field resigns.
  bool pressReturn();

 protected:
  void performTap() override;
  void forceResignFirstResponder() override;
  void renderSelf(TextCanvas& canvas) const override;
  // What the field shows: the text (dots for secure entry) or the placeholder in parentheses.
  std::string displayText() const;

 private:
  void finishEditing();

  std::optional<std::string> text_ = std::string();
  std::optional<std::string> placeholder_;
  std::optional<NSAttributedString> attributedPlaceholder_;
  std::weak_ptr<UITextFieldDelegate> delegate_;
  bool secure_ = false;
  bool editing_ = false;
  UIKeyboardType keyboardType_ = UIKeyboardType::Default;
  UIReturnKeyType returnKeyType_ = UIReturnKeyType::Default;
  UITextAutocapitalizationType autocapitalization_ = UITextAutocapitalizationType::Sentences;
  UITextAutocorrectionType autocorrection_ = UITextAutocorrectionType::Default;
  UITextBorderStyle borderStyle_ = UITextBorderStyle::None;
  UITextFieldViewMode clearButtonMode_ = UITextFieldViewMode::Never;
  std::optional<UIColor> textColor_;
  UIFont font_;
  NSTextAlignment textAlignment_ = NSTextAlignment::Natural;
};
