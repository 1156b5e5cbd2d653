#include "platform/ui/web_document.h"

#include "platform/foundation/ascii.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include <fmt/format.h>
#include <iconv.h>
#include <libxml/HTMLparser.h>
#include <libxml/encoding.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/utf8.h>

namespace {

using DocPtr = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

struct XmlText {
  void operator()(xmlChar* text) const { xmlFree(text); }
};
using XmlTextPtr = std::unique_ptr<xmlChar, XmlText>;

std::string_view nameOf(const xmlNode* node) { return reinterpret_cast<const char*>(node->name); }

std::optional<std::string> attribute(const xmlNode* node, const char* name) {
  XmlTextPtr value(xmlGetProp(node, reinterpret_cast<const xmlChar*>(name)));
  if (!value) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(value.get()));
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Runs of white space as one space, none at either end.
std::string collapsed(std::string_view text) {
  std::string out;
  bool space = false;
  for (char c : text) {
    if (isSpace(c)) {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    out += c;
  }
  return out;
}

std::string contentOf(const xmlNode* node) {
  XmlTextPtr text(xmlNodeGetContent(node));
  return text ? std::string(reinterpret_cast<const char*>(text.get())) : std::string();
}

const std::set<std::string_view> kBlocks = {
    "address", "article", "aside", "blockquote", "body", "dd",  "div",     "dl",    "dt", "fieldset", "figcaption",
    "figure",  "footer",  "form",  "h1",         "h2",   "h3",  "h4",      "h5",    "h6", "header",   "hr",
    "li",      "main",    "nav",   "ol",         "p",    "pre", "section", "table", "tr", "ul"};
// Never shown: metadata, scripts and the contents of fields.
const std::set<std::string_view> kHidden = {"head",   "script",   "style",  "template", "title",
                                            "select", "textarea", "iframe", "object"};

class TextBuilder {
 public:
  explicit TextBuilder(WebDocument& document) : doc_(document) {}

  void enter(const xmlNode* node) {
    const std::string_view name = nameOf(node);
    if (kBlocks.count(name) || name == "br") breakLine();
    if (name == "td" || name == "th") space_ = !line_.empty();
    if (name == "a" && !inLink_) {
      if (auto href = attribute(node, "href")) {
        inLink_ = true;
        linkNode_ = node;
        doc_.links.push_back(WebLink{"", *href});
      }
    } else if (name == "form") {
      WebForm form;
      form.action = attribute(node, "action").value_or("");
      form.method = attribute(node, "method").value_or("GET");
      for (char& c : form.method) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      }
      doc_.forms.push_back(std::move(form));
      forms_.push_back(doc_.forms.size() - 1);
    } else if (name == "input") {
      input(node);
    } else if (name == "textarea") {
      if (auto field = attribute(node, "name"); field && !forms_.empty()) {
        doc_.forms[forms_.back()].fields.emplace_back(*field, contentOf(node));
      }
    }
  }

  void leave(const xmlNode* node) {
    const std::string_view name = nameOf(node);
    if (kBlocks.count(name)) breakLine();
    if (name == "form" && !forms_.empty()) forms_.pop_back();
    if (inLink_ && node == linkNode_) {
      inLink_ = false;
      WebLink& link = doc_.links.back();
      link.text = collapsed(link.text);
      if (link.text.empty()) link.text = link.href;
      word(fmt::format("[{}]", doc_.links.size()));
    }
  }

  void text(std::string_view text) {
    for (char c : text) {
      if (isSpace(c)) {
        space_ = !line_.empty();
        continue;
      }
      if (space_) line_ += ' ';
      space_ = false;
      line_ += c;
    }
    if (inLink_) doc_.links.back().text.append(text);
  }

  void breakLine() {
    if (!line_.empty()) doc_.lines.push_back(std::move(line_));
    line_.clear();
    space_ = false;
  }

 private:
  void word(const std::string& w) {
    if (!line_.empty()) line_ += ' ';
    line_ += w;
    space_ = false;
  }

  void input(const xmlNode* node) {
    const std::string type = asciiLowercase(attribute(node, "type").value_or("text"));
    const bool button = type == "submit" || type == "button" || type == "reset" || type == "image";
    if (type == "submit") word("[" + collapsed(attribute(node, "value").value_or("Submit")) + "]");
    auto field = attribute(node, "name");
    if (button || type == "file" || !field || forms_.empty()) return;
    if ((type == "checkbox" || type == "radio") && !attribute(node, "checked")) return;
    const std::string fallback = (type == "checkbox" || type == "radio") ? "on" : "";
    doc_.forms[forms_.back()].fields.emplace_back(*field, attribute(node, "value").value_or(fallback));
  }

  WebDocument& doc_;
  std::string line_;
  bool space_ = false;
  bool inLink_ = false;
  const xmlNode* linkNode_ = nullptr;
  std::vector<std::size_t> forms_;
};

const xmlNode* findTitle(const xmlNode* node) {
  // Iterative, as in walk(): a deeply nested page must not exhaust the stack.
  while (node) {
    if (node->type == XML_ELEMENT_NODE && nameOf(node) == "title") return node;
    if (node->children && node->type == XML_ELEMENT_NODE) {
      node = node->children;
      continue;
    }
    while (node && !node->next) node = node->parent;
    if (node) node = node->next;
  }
  return nullptr;
}

void walk(const xmlNode* root, TextBuilder& builder) {
  const xmlNode* node = root;
  while (node) {
    bool descend = false;
    if (node->type == XML_ELEMENT_NODE) {
      if (!kHidden.count(nameOf(node))) {
        builder.enter(node);
        descend = node->children != nullptr;
        if (!descend) builder.leave(node);
      } else if (nameOf(node) == "textarea" || nameOf(node) == "select") {
        builder.enter(node);
      }
    } else if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
      if (node->content) builder.text(reinterpret_cast<const char*>(node->content));
    }
    if (descend) {
      node = node->children;
      continue;
    }
    // Climb until a sibling follows, closing the elements left on the way.
    while (node != root && !node->next) {
      node = node->parent;
      if (node->type == XML_ELEMENT_NODE) builder.leave(node);
    }
    node = node == root ? nullptr : node->next;
  }
}

}  // namespace

namespace web_document_detail {

namespace {

constexpr auto npos = std::string_view::npos;

// As the parser reads a page: blanks are these four only, and each name of a tag or an attribute
// is taken kNameLength characters at a time (the rest of a longer one is read as the next).
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool startsHtmlName(char c) { return isLetter(c) || c == '_' || c == ':' || c == '.'; }
bool inHtmlName(char c) { return startsHtmlName(c) || (c >= '0' && c <= '9') || c == '-'; }
constexpr std::size_t kNameLength = 100;

// One pass over the page as the parser will read it, counting what it would build and leaving
// out what is over the budget. What the parser reads as text (comments, declarations, processing
// instructions, the text of scripts and styles, a '<' or '&' that starts nothing) is not counted;
// that is safe only as long as this reads each of them exactly as far as the parser does. Each
// byte read is counted (at(), find() and the others below), so that the scan's cost shows.
class BudgetScan {
 public:
  BudgetScan(std::string_view html, const WorkBudget& budget) : html_(html), budget_(budget), end_(html.size()) {}

  BudgetedPage run() {
    while (i_ < end_) {
      i_ = std::min(findFirstOf("<&", i_), end_);
      if (i_ == end_) break;
      if (!startsStructure()) {
        ++i_;
      } else if (++structures_ > budget_.structures) {
        end_ = i_;
        page_.restCut = true;
      } else if (at(i_) == '&') {
        ++i_;
      } else {
        markup();
      }
    }
    if (changed_ || page_.restCut) {
      copyTo(end_);
      page_.html = std::move(out_);
    }
    page_.bytesRead = read_;
    return std::move(page_);
  }

 private:
  bool startsStructure() {
    if (i_ + 1 >= end_) return false;
    const char next = at(i_ + 1);
    if (at(i_) == '&') return isLetter(next) || next == '#';
    return isLetter(next) || next == '/' || next == '!' || next == '?';
  }

  char at(std::size_t i) {
    ++read_;
    return i < html_.size() ? html_[i] : '\0';
  }

  // Whether `text` stands at `i`, letters in either case; read up to the first difference.
  bool standsAt(std::size_t i, std::string_view text) {
    for (const char c : text) {
      if (asciiLower(at(i++)) != asciiLower(c)) return false;
    }
    return true;
  }

  // Where `text` next starts at or after `from`, or npos.
  std::size_t find(std::string_view text, std::size_t from) {
    const auto found = html_.find(text, from);
    countUpTo(from, found == npos ? html_.size() : found + text.size());
    return found;
  }

  std::size_t findFirstOf(std::string_view characters, std::size_t from) {
    const auto found = html_.find_first_of(characters, from);
    countUpTo(from, found == npos ? html_.size() : found + 1);
    return found;
  }

  void countUpTo(std::size_t from, std::size_t to) {
    if (to > from) read_ += to - from;
  }

  std::size_t blanksFrom(std::size_t i) {
    while (isBlank(at(i))) ++i;
    return i;
  }

  std::size_t past(char c, std::size_t from) {
    const auto found = find(std::string_view(&c, 1), from);
    return found == npos ? html_.size() : found + 1;
  }

  // After a quoted string starting at `i`; `i` when none starts there.
  std::size_t pastQuoted(std::size_t i) {
    const char quote = at(i);
    return quote == '"' || quote == '\'' ? past(quote, i + 1) : i;
  }

  // After an XML name starting at `i` (letters and digits of any script, as the parser's tables
  // have them); `i` when none starts there.
  std::size_t pastXmlName(std::size_t i) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(html_.data());
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(html_.size(), INT32_MAX));
    auto next = static_cast<std::int32_t>(std::min<std::size_t>(i, INT32_MAX));
    for (bool first = true; next < length; first = false) {
      const std::int32_t start = next;
      UChar32 c = 0;
      U8_NEXT(s, next, length, c);
      const bool letter = c >= 0 && (IS_LETTER(c) || c == '_' || c == ':');
      const bool other = c >= 0 && (IS_DIGIT(c) || c == '.' || c == '-' || IS_COMBINING(c) || IS_EXTENDER(c));
      if (!(letter || (!first && other))) {
        countUpTo(i, static_cast<std::size_t>(next));
        return static_cast<std::size_t>(start);
      }
    }
    countUpTo(i, static_cast<std::size_t>(next));
    return static_cast<std::size_t>(next);
  }

  void markup() {
    const char next = at(i_ + 1);
    if (next == '!') return declaration();
    if (next == '?') return processingInstruction();
    if (next == '/') return endTag();
    startTag();
  }

  // "<!--" starts a comment and "<!DOCTYPE" (in any case) a declaration; the parser reads any other
  // "<!" (a CDATA section too) as text, and what follows as markup.
  void declaration() {
    if (standsAt(i_ + 2, "--")) return comment();
    if (standsAt(i_ + 2, "DOCTYPE")) return doctype();
    ++i_;
  }

  // Up to the first "-->" or "--!>" after the two characters that follow "<!--" (so "<!-->" and
  // "<!--->" end nothing), or the page's end.
  void comment() {
    const auto close = std::min(nextOf(closes_, i_ + 4), nextOf(bangCloses_, i_ + 4));
    i_ = close == npos ? html_.size() : close + (at(close + 2) == '>' ? 3 : 4);
  }

  // The next of a text searched for again and again, remembered: most pages never write one of
  // the two ends of a comment, and searching for it from every comment would read the rest of the
  // page each time.
  struct Mark {
    std::string_view text;
    std::size_t from = npos;  // where the last search started; none yet
    std::size_t found = npos;
  };

  // As find(), for a `from` that never goes back.
  std::size_t nextOf(Mark& mark, std::size_t from) {
    if (mark.from > from || (mark.found != npos && mark.found < from)) {
      mark.from = from;
      mark.found = find(mark.text, from);
    }
    return mark.found;
  }

  // A name; "PUBLIC" and up to two quoted strings or "SYSTEM" and one, where a '>' ends nothing;
  // then up to the next '>'.
  void doctype() {
    std::size_t next = blanksFrom(pastXmlName(blanksFrom(i_ + 9)));
    if (standsAt(next, "PUBLIC")) {
      next = pastQuoted(blanksFrom(pastQuoted(blanksFrom(next + 6))));
    } else if (standsAt(next, "SYSTEM")) {
      next = pastQuoted(blanksFrom(next + 6));
    }
    i_ = past('>', next);
  }

  // With a name, up to the next '>'; without one the parser drops the "<?" and reads on.
  void processingInstruction() { i_ = pastXmlName(i_ + 2) == i_ + 2 ? i_ + 2 : past('>', i_ + 2); }

  // The same for "</".
  void endTag() { i_ = startsHtmlName(at(i_ + 2)) ? past('>', i_ + 2) : i_ + 2; }

  void startTag() {
    const std::string name = asciiLowercase(htmlName(++i_));
    attributes();
    if (i_ >= html_.size()) return;
    if (at(i_) == '/') {  // "/>": an empty element, even a script
      i_ += 2;
      return;
    }
    ++i_;
    if (name == "script" || name == "style") rawText(name);
  }

  // The next name the parser reads from `i_`.
  std::string_view htmlName(std::size_t start) {
    while (i_ < html_.size() && i_ - start < kNameLength && inHtmlName(at(i_))) ++i_;
    return html_.substr(start, i_ - start);
  }

  bool endsTag(std::size_t i) {
    const char c = at(i);
    return i >= html_.size() || c == '>' || (c == '/' && at(i + 1) == '>');
  }

  // The attributes over the budget and all after them are left out up to the tag's end, so that
  // what is kept reads as it did.
  void attributes() {
    std::size_t count = 0;
    std::optional<std::size_t> first, cut;
    for (i_ = blanksFrom(i_); !endsTag(i_); i_ = blanksFrom(i_)) {
      if (!startsHtmlName(at(i_))) {  // the parser passes over what starts no name
        while (!endsTag(i_) && !isBlank(at(i_))) ++i_;
        continue;
      }
      const std::size_t start = i_;
      if (!first) first = start;
      attribute();
      if (cut) continue;
      // Only what the parser is given counts against the page's budget.
      const bool overElement = ++count > budget_.attributes || start - *first > budget_.tagAttributeBytes;
      const bool overPage = !overElement && ++pageAttributes_ > budget_.pageAttributes;
      if (overElement || overPage) cut = start;
      if (overPage) page_.pageAttributesCut = true;
    }
    if (cut) {
      copyTo(*cut);
      copied_ = i_;
      changed_ = page_.attributesCut = true;
    }
  }

  void attribute() {
    htmlName(i_);
    const std::size_t equals = blanksFrom(i_);
    if (at(equals) != '=') return;
    i_ = blanksFrom(equals + 1);
    if (const auto quoted = pastQuoted(i_); quoted != i_) {
      i_ = quoted;
    } else {
      while (i_ < html_.size() && !isBlank(at(i_)) && at(i_) != '>') ++i_;
    }
  }

  // The parser reads a script's or style's text up to "</" and its name in any case, then up to the
  // next '>'. Where its reading would depend on the elements open around (an end tag at the text's
  // start, or one whose name only starts with the element's, may close one of them; some start tags
  // close the element), a space after the '<' keeps that in the text, which is never shown.
  void rawText(std::string_view name) {
    const auto closes = [&](std::size_t i) {
      return standsAt(i + 2, name) && !inHtmlName(at(i + 2 + name.size()));
    };
    std::size_t from = i_;
    if (at(i_) == '<' && (at(i_ + 1) == '/' || startsHtmlName(at(i_ + 1))) && !(at(i_ + 1) == '/' && closes(i_))) {
      insertSpace(++from);
    }
    for (auto open = find("</", from); open != npos; open = find("</", open + 2)) {
      if (!standsAt(open + 2, name)) continue;
      if (!closes(open)) {
        insertSpace(open + 1);
        continue;
      }
      i_ = past('>', open + 2);
      return;
    }
    i_ = html_.size();
  }

  void insertSpace(std::size_t where) {
    copyTo(where);
    out_ += ' ';
    changed_ = true;
  }

  void copyTo(std::size_t where) {
    countUpTo(copied_, where);
    out_.append(html_.substr(copied_, where - copied_));
    copied_ = where;
  }

  std::string_view html_;
  const WorkBudget& budget_;
  std::size_t end_;  // where the parser's text ends: the page's end unless the rest was cut
  std::size_t i_ = 0;
  std::size_t structures_ = 0;
  std::size_t pageAttributes_ = 0;  // given to the parser so far
  std::size_t read_ = 0;            // bytes of the page read, each time they were read
  Mark closes_{"-->"};
  Mark bangCloses_{"--!>"};
  std::string out_;         // the page up to `copied_`, as the parser is given it
  std::size_t copied_ = 0;  // html_[copied_, i_) is still to be copied
  bool changed_ = false;    // out_ differs from the page
  BudgetedPage page_;
};

}  // namespace

BudgetedPage withinBudget(std::string_view html, const WorkBudget& budget) { return BudgetScan(html, budget).run(); }

}  // namespace web_document_detail

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::size_t kChunk = 64 * 1024;
// Room for the UTF-8 of a chunk: a character takes at least one byte, and at most four in UTF-8.
constexpr std::size_t kChunkRoom = 4 * kChunk + 16;

// `text` with U+FFFD for each ill-formed sequence and each U+0000; nothing when it has neither.
// The parser ends the page at bytes it cannot read, and at a NUL in a tag.
std::optional<std::string> wellFormed(std::string_view text) {
  const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
  const std::size_t length = text.size();
  std::optional<std::string> out;
  std::size_t copied = 0;
  for (std::size_t i = 0; i < length;) {
    const std::size_t start = i;
    UChar32 c = 0;
    U8_NEXT(s, i, length, c);
    if (c > 0) continue;
    // A lone surrogate, as the parser's own UTF-16 converter writes one: one character.
    if (c < 0 && s[start] == 0xED && length - start >= 3 && s[start + 1] >= 0xA0 && s[start + 1] <= 0xBF &&
        (s[start + 2] & 0xC0) == 0x80) {
      i = start + 3;
    }
    if (!out) out.emplace().reserve(length + length / 16);
    out->append(text.substr(copied, start - copied));
    out->append(kReplacement);
    copied = i;
  }
  if (out) out->append(text.substr(copied));
  return out;
}

// Runs `step` over `bytes` chunk by chunk. A step converts what it can of its input and says how
// much it took and wrote, and whether it stopped at bytes the charset cannot read; those, or a
// tail too short for a character, become U+FFFD and are stepped over `unit` bytes at a time.
template <class Step>
std::string decodedInSteps(std::string_view bytes, std::size_t unit, Step&& step) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  std::vector<char> room(kChunkRoom);
  while (!bytes.empty()) {
    std::size_t taken = 0, written = 0;
    const bool failed = step(bytes.substr(0, kChunk), room.data(), taken, written);
    taken = std::min(taken, bytes.size());
    out.append(room.data(), std::min(written, room.size()));
    bytes.remove_prefix(taken);
    if (failed || (taken == 0 && written == 0)) {
      out.append(kReplacement);
      bytes.remove_prefix(std::min(unit, bytes.size()));
    }
  }
  return out;
}

std::string decodedWith(xmlCharEncodingInputFunc input, std::string_view name, std::string_view bytes) {
  const std::size_t unit = name.substr(0, 6) == "UTF-16" ? 2 : 1;
  return decodedInSteps(bytes, unit, [&](std::string_view in, char* out, std::size_t& taken, std::size_t& written) {
    int inLength = static_cast<int>(in.size());
    int outLength = static_cast<int>(kChunkRoom);
    const int result = input(reinterpret_cast<unsigned char*>(out), &outLength,
                             reinterpret_cast<const unsigned char*>(in.data()), &inLength);
    taken = static_cast<std::size_t>(std::max(inLength, 0));
    written = static_cast<std::size_t>(std::max(outLength, 0));
    return result < 0;
  });
}

// Bytes one more '<' takes in the charset: 1 in most, 2 in UTF-16, 4 in UTF-32.
std::size_t unitOf(iconv_t toCharset) {
  auto length = [&](std::string_view text) {
    char buffer[32];
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(toCharset, nullptr, nullptr, nullptr, nullptr);
    iconv(toCharset, &in, &inLeft, &out, &outLeft);
    iconv(toCharset, nullptr, nullptr, &out, &outLeft);
    return out - buffer;
  };
  const auto unit = length("<<") - length("<");
  return unit >= 1 && unit <= 4 ? static_cast<std::size_t>(unit) : 1;
}

std::string decodedWith(iconv_t fromCharset, iconv_t toCharset, std::string_view bytes) {
  iconv(fromCharset, nullptr, nullptr, nullptr, nullptr);
  std::string out = decodedInSteps(
      bytes, unitOf(toCharset), [&](std::string_view in, char* room, std::size_t& taken, std::size_t& written) {
        char* from = const_cast<char*>(in.data());
        std::size_t inLeft = in.size();
        char* to = room;
        std::size_t outLeft = kChunkRoom;
        const bool failed =
            iconv(fromCharset, &from, &inLeft, &to, &outLeft) == static_cast<std::size_t>(-1) && errno == EILSEQ;
        taken = in.size() - inLeft;
        written = kChunkRoom - outLeft;
        return failed;
      });
  char room[64];
  char* to = room;
  std::size_t outLeft = sizeof room;
  iconv(fromCharset, nullptr, nullptr, &to, &outLeft);  // a shift state's last characters
  out.append(room, static_cast<std::size_t>(to - room));
  return out;
}

// ICU steps over what it cannot read itself; this writes U+FFFD for it.
void writeReplacement(const void*, UConverterToUnicodeArgs* args, const char*, int32_t, UConverterCallbackReason reason,
                      UErrorCode* error) {
  if (reason > UCNV_IRREGULAR) return;
  static const UChar replacement = 0xFFFD;
  *error = U_ZERO_ERROR;
  ucnv_cbToUWriteUChars(args, &replacement, 1, 0, error);
}

std::string decodedWith(uconv_t& converters, std::string_view bytes) {
  UErrorCode status = U_ZERO_ERROR;
  ucnv_setToUCallBack(converters.uconv, writeReplacement, nullptr, nullptr, nullptr, &status);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  std::vector<char> room(kChunkRoom);
  UChar pivot[1024];
  UChar* pivotSource = pivot;
  UChar* pivotTarget = pivot;
  const char* from = bytes.data();
  bool reset = true;
  do {
    char* to = room.data();
    status = U_ZERO_ERROR;
    ucnv_convertEx(converters.utf8, converters.uconv, &to, room.data() + room.size(), &from,
                   bytes.data() + bytes.size(), pivot, &pivotSource, &pivotTarget, pivot + 1024, reset, true, &status);
    out.append(room.data(), static_cast<std::size_t>(to - room.data()));
    reset = false;
  } while (status == U_BUFFER_OVERFLOW_ERROR);
  return out;
}

// Nothing for UTF-8 and for a converter that reads nothing (the parser then reads UTF-8).
std::optional<std::string> decoded(std::string_view page, xmlCharEncodingHandler& handler) {
  const std::string_view name = handler.name ? handler.name : "";
  if (name == "UTF-8") return std::nullopt;
  if (handler.input) return decodedWith(handler.input, name, page);
  if (handler.iconv_in && handler.iconv_out) return decodedWith(handler.iconv_in, handler.iconv_out, page);
  if (handler.uconv_in) return decodedWith(*handler.uconv_in, page);
  return std::nullopt;
}

struct HandlerClose {
  void operator()(xmlCharEncodingHandler* handler) const { xmlCharEncCloseFunc(handler); }
};

// The page as the UTF-8 the parser is given: decoded from `charset` by the converter the parser
// itself would take for it (none: read as UTF-8), NUL and unreadable bytes as U+FFFD. Nothing
// when that is the page as it is.
std::optional<std::string> asParserText(std::string_view page, const std::optional<std::string>& charset) {
  std::unique_ptr<xmlCharEncodingHandler, HandlerClose> handler(charset ? xmlFindCharEncodingHandler(charset->c_str())
                                                                        : nullptr);
  auto text = handler ? decoded(page, *handler) : std::nullopt;
  if (!text) return wellFormed(page);
  if (auto clean = wellFormed(*text)) return clean;
  return text;
}

}  // namespace

namespace web_document_detail {

ParserInput parserInput(std::string_view page, const std::optional<std::string>& encoding, const WorkBudget& budget) {
  ParserInput input;
  // Every charset is budgeted alike: the budget reads the UTF-8 the parser is given.
  input.utf8 = asParserText(page, encoding);
  // The parser checks each attribute against the earlier ones of its element (quadratic), and
  // every tag and reference costs far more than its bytes: the page gets a budget for them.
  input.budgeted = withinBudget(input.utf8 ? std::string_view(*input.utf8) : page, budget);
  return input;
}

xmlDoc* readTree(xmlParserCtxt& context, std::string_view text) {
  const int size = text.size() > INT_MAX ? INT_MAX : static_cast<int>(text.size());
  const int options = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET;
  return htmlCtxtReadMemory(&context, text.data(), size, nullptr, "UTF-8", options);
}

}  // namespace web_document_detail

WebDocument WebDocument::parse(std::string_view page, const std::optional<std::string>& encoding) {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
  WebDocument document;
  if (page.empty()) return document;
  const auto input = web_document_detail::parserInput(page, encoding);
  const auto& budgeted = input.budgeted;
  std::unique_ptr<htmlParserCtxt, decltype(&htmlFreeParserCtxt)> context(htmlNewParserCtxt(), &htmlFreeParserCtxt);
  if (!context) return document;
  DocPtr doc(web_document_detail::readTree(*context, input.text(page)), &xmlFreeDoc);
  if (!doc) return document;
  // Too deep a nesting and too long a text end the parse where they start.
  const int error = context->lastError.code;
  const bool restCut = budgeted.restCut || error == XML_ERR_INTERNAL_ERROR || error == XML_ERR_NO_MEMORY;
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  if (root) {
    if (const xmlNode* title = findTitle(root)) document.title = collapsed(contentOf(title));
    TextBuilder builder(document);
    walk(root, builder);
    builder.breakLine();
  }
  if (budgeted.attributesCut) {
    document.lines.insert(document.lines.begin(),
                          budgeted.pageAttributesCut ? kCutPageAttributesLine : kCutAttributesLine);
  }
  if (restCut) document.lines.push_back(kCutRestLine);
  return document;
}
