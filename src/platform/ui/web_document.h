#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct _xmlDoc;
struct _xmlParserCtxt;

// A link on a page: its text and its target as written (resolved against the page's URL when
// followed).
struct WebLink {
  std::string text;
  std::string href;
};

// A form on a page with its fields' names and initial values, in document order (text inputs,
// hidden inputs, checked boxes, text areas; unnamed fields and buttons are not sent).
struct WebForm {
  std::string action;
  std::string method = "GET";  // upper-cased
  std::vector<std::pair<std::string, std::string>> fields;
};

// What the web views keep of a parsed HTML page: the title, the visible text as lines and the
// links and forms. Links are numbered from 1 in document order; a link's number follows its text
// in the lines ("Terms [1]"), which is how the text rendering lets a user name it.
struct WebDocument {
  std::optional<std::string> title;
  std::vector<std::string> lines;
  std::vector<WebLink> links;
  std::vector<WebForm> forms;

  // Parses with a forgiving HTML parser: malformed markup still gives what a browser would show.
  // `encoding` names the bytes' character set when the server said which (UTF-8 otherwise, and
  // for a character set the parser does not know); bytes not readable in it and NULs read as
  // U+FFFD. The work is bounded (web_document_detail::WorkBudget, on the page as UTF-8):
  // attributes over the budget are left out before parsing, the page past its budget of tags and
  // references is not parsed, and content past the parser's depth and text limits is lost; a line
  // of the page then says so.
  static WebDocument parse(std::string_view html, const std::optional<std::string>& encoding = std::nullopt);

  // Of one element: the parser's check for repeated attributes is quadratic in their number.
  static constexpr std::size_t kMaxAttributes = 500;
  // Of the whole page, well above what pages use (twenty thousand linked paragraphs have 80,000):
  // every one the parser keeps costs time and memory on the main queue.
  static constexpr std::size_t kMaxPageAttributes = 120000;
  // Tags, comments and references of the whole page, above what pages use (twenty thousand linked
  // paragraphs have 120,000, a table of 18,000 rows 234,000): each element and text the parser
  // keeps takes some 150 bytes on the main queue.
  static constexpr std::size_t kMaxStructures = 250000;
  static constexpr const char* kCutAttributesLine = "(attributes of an element were cut)";
  static constexpr const char* kCutPageAttributesLine = "(attributes of the page were cut)";
  static constexpr const char* kCutRestLine = "(the rest of the page was cut)";
};

namespace web_document_detail {

// What the parse of one page may cost.
struct WorkBudget {
  std::size_t attributes = WebDocument::kMaxAttributes;  // of one element
  // Of the whole page: only those the parser is given count.
  std::size_t pageAttributes = WebDocument::kMaxPageAttributes;
  std::size_t tagAttributeBytes = 64 * 1024;             // of one start tag: attributes that start later are left out
  std::size_t structures = WebDocument::kMaxStructures;  // tags, comments and references in the whole page
};

struct BudgetedPage {
  std::optional<std::string> html;  // what the parser is given, when it is not the page as it is
  bool attributesCut = false;       // of some element, or of the page
  bool pageAttributesCut = false;   // the page's own budget was spent
  bool restCut = false;
  // Bytes of the page the scan read, a byte read twice counted twice: the scan's cost.
  std::size_t bytesRead = 0;
};

// `html` within `budget`: the attributes over it left out (every one past the page's budget), the
// page cut before the first structure over it.
BudgetedPage withinBudget(std::string_view html, const WorkBudget& budget = {});

// What the parser is given for `page`: read as UTF-8 (see WebDocument::parse), then kept within
// `budget`.
struct ParserInput {
  std::optional<std::string> utf8;  // the page as UTF-8, when that is not the page as it is
  BudgetedPage budgeted;
  std::string_view text(std::string_view page) const {
    return budgeted.html ? std::string_view(*budgeted.html) : utf8 ? std::string_view(*utf8) : page;
  }
};
ParserInput parserInput(std::string_view page, const std::optional<std::string>& encoding,
                        const WorkBudget& budget = {});

// The tree of `text` read by `context` as WebDocument::parse reads it; the caller frees it.
_xmlDoc* readTree(_xmlParserCtxt& context, std::string_view text);

}  // namespace web_document_detail
