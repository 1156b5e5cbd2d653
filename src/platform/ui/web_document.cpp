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
    if (type == "submit") word("[" + attribute(node, "value").value_or("Submit") + "]");
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

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// One pass over the page as the parser will read it, counting what it would build and leaving
// out what is over the budget. Quoted values may hold blanks and '>'; comments, the text of
// scripts and styles, and a '<' or '&' that starts nothing are not counted.
class BudgetScan {
 public:
  BudgetScan(std::string_view html, const WorkBudget& budget) : html_(html), budget_(budget), end_(html.size()) {}

  BudgetedPage run() {
    while (i_ < end_) {
      i_ = std::min(html_.find_first_of("<&", i_), end_);
      if (i_ == end_) break;
      if (!startsStructure()) {
        ++i_;
      } else if (++structures_ > budget_.structures) {
        end_ = i_;
        page_.restCut = true;
      } else if (html_[i_] == '&') {
        ++i_;
      } else {
        markup();
      }
    }
    if (page_.attributesCut || page_.restCut) {
      out_.append(html_.substr(copied_, end_ - copied_));
      page_.html = std::move(out_);
    }
    return std::move(page_);
  }

 private:
  bool startsStructure() const {
    if (i_ + 1 >= end_) return false;
    const char next = html_[i_ + 1];
    if (html_[i_] == '&') return isLetter(next) || next == '#';
    return isLetter(next) || next == '/' || next == '!' || next == '?';
  }

  void skipPast(std::string_view end) {
    const auto at = html_.find(end, i_);
    i_ = at == std::string_view::npos ? end_ : std::min(at + end.size(), end_);
  }

  void markup() {
    if (html_.substr(i_, 4) == "<!--") return skipPast("-->");
    if (!isLetter(html_[i_ + 1])) return skipPast(">");
    const std::size_t nameStart = ++i_;
    while (i_ < end_ && !isBlank(html_[i_]) && html_[i_] != '>' && html_[i_] != '/') ++i_;
    const std::string name = asciiLowercase(html_.substr(nameStart, i_ - nameStart));
    attributes();
    // The parser takes these as raw text up to their end tag.
    if (name == "script" || name == "style") skipRawText(name);
  }

  void attributes() {
    std::optional<std::size_t> first;
    std::size_t count = 0;
    while (i_ < end_) {
      while (i_ < end_ && (isBlank(html_[i_]) || html_[i_] == '/')) ++i_;
      if (i_ >= end_ || html_[i_] == '>') return;
      const std::size_t start = i_;
      if (!first) first = start;
      skipAttribute();
      // Only what the parser is given counts against the page's budget.
      const bool overElement = ++count > budget_.attributes || start - *first > budget_.tagAttributeBytes;
      const bool overPage = !overElement && ++pageAttributes_ > budget_.pageAttributes;
      if (overElement || overPage) leaveOut(start);
      if (overPage) page_.pageAttributesCut = true;
    }
  }

  void leaveOut(std::size_t start) {
    out_.append(html_.substr(copied_, start - copied_));
    copied_ = i_;
    page_.attributesCut = true;
  }

  void skipAttribute() {
    while (i_ < end_ && !isBlank(html_[i_]) && html_[i_] != '=' && html_[i_] != '>') ++i_;
    std::size_t at = i_;
    while (at < end_ && isBlank(html_[at])) ++at;
    if (at >= end_ || html_[at] != '=') return;
    i_ = at + 1;
    while (i_ < end_ && isBlank(html_[i_])) ++i_;
    if (i_ < end_ && (html_[i_] == '"' || html_[i_] == '\'')) {
      const auto close = html_.find(html_[i_], i_ + 1);
      i_ = close == std::string_view::npos ? end_ : std::min(close + 1, end_);
    } else {
      while (i_ < end_ && !isBlank(html_[i_]) && html_[i_] != '>') ++i_;
    }
  }

  void skipRawText(const std::string& name) {
    while (i_ < end_) {
      skipPast("</");
      if (i_ < end_ && asciiEqualIgnoringCase(html_.substr(i_, name.size()), name)) return;
    }
  }

  std::string_view html_;
  const WorkBudget& budget_;
  std::size_t end_;  // where the parser's text ends: the page's end unless the rest was cut
  std::size_t i_ = 0;
  std::size_t structures_ = 0;
  std::size_t pageAttributes_ = 0;  // given to the parser so far
  std::string out_;         // the page up to `copied_`, without the attributes left out
  std::size_t copied_ = 0;  // html_[copied_, i_) is still to be copied
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

WebDocument WebDocument::parse(std::string_view page, const std::optional<std::string>& encoding) {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
  WebDocument document;
  if (page.empty()) return document;
  // Every charset is budgeted alike: the budget reads the UTF-8 the parser is given.
  const auto text = asParserText(page, encoding);
  const std::string_view utf8 = text ? std::string_view(*text) : page;
  // The parser checks each attribute against the earlier ones of its element (quadratic), and
  // every tag and reference costs far more than its bytes: the page gets a budget for them.
  const auto budgeted = web_document_detail::withinBudget(utf8);
  const std::string_view html = budgeted.html ? std::string_view(*budgeted.html) : utf8;
  const int size = html.size() > INT_MAX ? INT_MAX : static_cast<int>(html.size());
  const int options = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET;
  std::unique_ptr<htmlParserCtxt, decltype(&htmlFreeParserCtxt)> context(htmlNewParserCtxt(), &htmlFreeParserCtxt);
  if (!context) return document;
  DocPtr doc(htmlCtxtReadMemory(context.get(), html.data(), size, nullptr, "UTF-8", options), &xmlFreeDoc);
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
