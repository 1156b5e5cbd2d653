// Any bytes as a web page: parsing must not crash, and the text it keeps must be one-line pieces:
// no empty lines and no line breaks inside a line or the title. And the page as the parser is
// given it (within a small budget, so that small inputs reach it) must make the parser build no
// more than the budget let through: no element with more attributes than its budget, no more
// attributes in all than the page's, no more start tags that stand in the page than the budget of
// structures (the elements the parser adds by itself are not counted). The budget's scan of the
// page, with the budget WebDocument::parse gives it, reads each byte a bounded number of times, so
// that a scan growing with the square of the page shows on a page of a few KB.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include <libxml/HTMLparser.h>
#include <libxml/SAX2.h>
#include <libxml/dict.h>
#include <libxml/tree.h>

#include "platform/ui/web_document.h"

namespace {

constexpr web_document_detail::WorkBudget kBudget{
    .attributes = 4, .pageAttributes = 12, .tagAttributeBytes = 48, .structures = 24};

constexpr std::size_t kScanReadsPerByte = 8;
constexpr std::size_t kScanReadsSlack = 64;

struct Built {
  std::size_t attributes = 0;
  std::size_t startTags = 0;
};
Built built;

void startElement(void* context, const xmlChar* name, const xmlChar** attributes) {
  auto* parser = static_cast<htmlParserCtxtPtr>(context);
  std::size_t count = 0;
  while (attributes && attributes[2 * count]) ++count;
  if (count > kBudget.attributes) std::abort();
  built.attributes += count;
  if (built.attributes > kBudget.pageAttributes) std::abort();
  // The parser names the elements it adds by itself with constant strings, those of start tags
  // from its dictionary.
  if (xmlDictOwns(parser->dict, name) == 1 && ++built.startTags > kBudget.structures) std::abort();
  xmlSAX2StartElement(context, name, attributes);
}

// Attributes the tree holds, whichever way they came to it.
void checkTree(const xmlNode* node) {
  std::size_t total = 0;
  while (node) {
    if (node->type == XML_ELEMENT_NODE) {
      std::size_t count = 0;
      for (const xmlAttr* attribute = node->properties; attribute; attribute = attribute->next) ++count;
      if (count > kBudget.attributes) std::abort();
      total += count;
    }
    if (node->children && node->type == XML_ELEMENT_NODE) {
      node = node->children;
      continue;
    }
    while (node && !node->next) node = node->parent;
    if (node) node = node->next;
  }
  if (total > kBudget.pageAttributes) std::abort();
}

void checkScanCost(std::string_view page) {
  const auto input = web_document_detail::parserInput(page, std::nullopt);
  const std::size_t scanned = input.utf8 ? input.utf8->size() : page.size();
  if (input.budgeted.bytesRead > kScanReadsPerByte * scanned + kScanReadsSlack) std::abort();
}

void checkBudget(std::string_view page) {
  const auto input = web_document_detail::parserInput(page, std::nullopt, kBudget);
  std::unique_ptr<htmlParserCtxt, decltype(&htmlFreeParserCtxt)> context(htmlNewParserCtxt(), &htmlFreeParserCtxt);
  if (!context) return;
  context->sax->startElement = startElement;
  built = {};
  std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(web_document_detail::readTree(*context, input.text(page)),
                                                     &xmlFreeDoc);
  if (doc) checkTree(xmlDocGetRootElement(doc.get()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view html(reinterpret_cast<const char*>(data), size);
  const WebDocument document = WebDocument::parse(html);
  for (const auto& line : document.lines) {
    if (line.empty() || line.find('\n') != std::string::npos) std::abort();
  }
  if (document.title && document.title->find('\n') != std::string::npos) std::abort();
  checkScanCost(html);
  if (!html.empty()) checkBudget(html);
  return 0;
}
