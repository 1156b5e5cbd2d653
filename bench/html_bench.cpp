// Hostile and ordinary pages through a web view's loadHTMLString, each timed
// from the call until the page is shown, against its target on one core (one
// second unless the page names its own). Pages in another character set go
// through the parse that a server's charset takes. The pages that flood the
// parser with attributes or comments also print the peak resident memory they
// add, each shown in a child process of its own so that the peak is theirs.
// Pages of comments are also shown at 1 MiB and at 128 KiB: the time must grow
// with the page, not with its square.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bench_timing.h"
#include "platform/foundation/run_loop.h"
#include "platform/ui/web_document.h"
#include "platform/ui/wk_web_view.h"

namespace {

constexpr double kTargetSeconds = 1.0;
// The parser's cost grows with the square of one element's attributes: its cap
// must keep this.
constexpr double kManyAttributesTargetSeconds = 0.25;
constexpr std::size_t kPageBytes = 8 * 1024 * 1024;
// Pages flooding the whole page with attributes: the main queue stands still
// while one parses.
constexpr double kFloodTargetSeconds = 0.5;
constexpr double kFloodTargetMegabytes = 100;
// Unclosed paragraphs up to the whole budget of structures.
constexpr double kParagraphFloodTargetMegabytes = 128;
// Eight times the page, and time for a little more than eight times the work.
constexpr std::size_t kLargeBytes = 1024 * 1024;
constexpr std::size_t kSmallBytes = 128 * 1024;
constexpr double kGrowthTarget = 10;
constexpr int kGrowthRuns = 11;
// The parser's nesting limit.
constexpr int kDepthLimit = 256;
// A comment the parser ends at "--!>": what follows must be budgeted as any page.
const std::string kBangComment = "<!-- x --!>";
// Pages of comments that never write the other end of a comment.
const std::string kEmptyComment = "<!---->";
const std::string kBangClosedComment = "<!--x--!>";
const std::string kNotedParagraph =
    "<p>A paragraph of the lesson, and its note.</p><!-- note -->\n";

struct Page {
  std::string name;
  std::string html;
  double target;
  std::optional<std::string> charset;
  std::size_t links = 0; // the page's links, each of which must be kept
  double megabytes = kFloodTargetMegabytes; // added at the peak, when measured
};

std::vector<Page> seedPages() {
  std::vector<Page> pages;
  for (const auto &entry :
       std::filesystem::directory_iterator(DORVALE_HTML_SEEDS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    pages.push_back({"seed " + entry.path().filename().string(),
                     std::string(std::istreambuf_iterator<char>(in),
                                 std::istreambuf_iterator<char>()),
                     kTargetSeconds, std::nullopt});
  }
  std::sort(pages.begin(), pages.end(),
            [](const Page &a, const Page &b) { return a.name < b.name; });
  return pages;
}

std::string utf16le(const std::string &ascii) {
  std::string out;
  out.reserve(2 * ascii.size());
  for (char c : ascii)
    out += {c, '\0'};
  return out;
}

std::string ebcdic(const std::string &ascii) {
  iconv_t converter = iconv_open("IBM037", "UTF-8");
  std::string out(ascii.size(), '\0');
  char *in = const_cast<char *>(ascii.data());
  char *to = out.data();
  std::size_t inLeft = ascii.size(), outLeft = out.size();
  iconv(converter, &in, &inLeft, &to, &outLeft);
  iconv_close(converter);
  return out;
}

std::string curriculum() {
  std::string page;
  for (int n = 1; n <= 20000; ++n) {
    const std::string number = std::to_string(n);
    page += "<p class=\"exercise\" style=\"margin:0 0 8px 0\"><span "
            "lang=\"en\">Exercise " +
            number + ": see <a href=\"/answers/" + number +
            "\">the worked answer</a></span></p>\n";
  }
  return page;
}

// Paragraphs each with a link, a conditional comment and a note comment.
std::string lessonPage() {
  std::string page;
  for (int n = 1; n <= 24000; ++n) {
    const std::string number = std::to_string(n);
    page += "<p class=\"item\">Step " + number +
            ": read <a href=\"/lessons/" + number +
            "\">the notes of this step</a> and try the exercise before "
            "class.<!--[if x]><b>x</b><![endif]--></p><!-- /.item -->\n";
  }
  return page;
}

// 18,000 rows of 13 structures each, then a last line.
std::string longTable() {
  std::string page = "<table>\n";
  for (int n = 1; n <= 18000; ++n) {
    const std::string number = std::to_string(n);
    page += "<tr><td>" + number + "</td><td>Word&nbsp;" + number +
            "</td><td><a href=\"/w/" + number +
            "\">entry</a></td><td>x</td></tr>\n";
  }
  return page + "</table>\n<p>END <a href=\"/end\">end</a></p>\n";
}

std::string oneElement(int attributes, const std::string &prefix = "") {
  std::string page = prefix + "<p";
  for (int i = 0; i < attributes; ++i)
    page += " at" + std::to_string(i) + "=v";
  return page + ">text</p>";
}

std::string manyAttributes() {
  std::string page;
  for (int element = 0; element < 60; ++element) {
    page += "<p";
    for (int i = 0; i < 9999; ++i)
      page += " at" + std::to_string(i) + "=v" + std::to_string(i);
    page += ">text</p>\n";
  }
  return page;
}

std::string nestedAtTheLimit() {
  std::string block;
  for (int i = 1; i < kDepthLimit; ++i)
    block += "<div>";
  block += "deep";
  for (int i = 1; i < kDepthLimit; ++i)
    block += "</div>";
  std::string page;
  while (page.size() + block.size() <= kPageBytes)
    page += block;
  return page;
}

std::string repeated(const std::string &head, const std::string &unit,
                     const std::string &tail, std::size_t bytes = kPageBytes) {
  std::string page = head;
  while (page.size() + unit.size() + tail.size() <= bytes)
    page += unit;
  return page + tail;
}

// Elements of `attributes` attributes each to 8 MiB; a link's href is one.
std::string attributeFlood(int attributes, bool links,
                           const std::string &prefix = "") {
  std::string unit = links ? "<a href=/next" : "<p";
  for (int i = links ? 1 : 0; i < attributes; ++i)
    unit += " a" + std::to_string(i);
  unit += links ? ">next</a>\n" : ">x</p>\n";
  return repeated(prefix, unit, "");
}

// The process's peak resident size so far (VmHWM); a forked child's starts
// at its resident size.
double peakResidentMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0)
      return std::stod(line.substr(6)) / 1024;
  return 0;
}

struct Shown {
  double seconds = 0;
  bool cut = false;
  std::size_t links = 0;
};

Shown show(WKWebView &view, const Page &page) {
  WebDocument parsed;
  Shown shown;
  shown.seconds = seconds([&] {
    if (page.charset) {
      parsed = WebDocument::parse(page.html, page.charset);
      return;
    }
    view.loadHTMLString(page.html, std::nullopt);
    RunLoop::main().runUntil([&] { return !view.isLoading(); }, 600);
  });
  const auto &lines = page.charset ? parsed.lines : view.document().lines;
  shown.links =
      page.charset ? parsed.links.size() : view.document().links.size();
  shown.cut =
      !lines.empty() && (lines.front() == WebDocument::kCutAttributesLine ||
                         lines.front() == WebDocument::kCutPageAttributesLine ||
                         lines.back() == WebDocument::kCutRestLine);
  return shown;
}

// The links shown of those the page has, when it has any.
void printLinks(const Page &page, const Shown &shown) {
  if (page.links)
    std::printf("  %-34s %9s       %8zu of %zu links kept (target: all)\n", "",
                "", shown.links, page.links);
}

void printLine(const Page &page, const Shown &shown) {
  std::printf("  %-34s %9zu bytes %8.3f s (target < %.2f s)%s\n",
              page.name.c_str(), page.html.size(), shown.seconds, page.target,
              shown.cut ? ", cut" : "");
  printLinks(page, shown);
}

// `page` shown in a forked child, with the peak resident memory it adds.
void showMeasured(const Page &page) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    const double before = peakResidentMegabytes();
    auto view = WKWebView::make();
    const Shown shown = show(*view, page);
    const double added = peakResidentMegabytes() - before;
    std::printf("  %-34s %9zu bytes %8.3f s (target <= %.2f s)%s\n"
                "  %-34s %9s       %8.1f MB peak resident added (target <= "
                "%.0f MB)\n",
                page.name.c_str(), page.html.size(), shown.seconds,
                page.target, shown.cut ? ", cut" : "", "", "", added,
                page.megabytes);
    printLinks(page, shown);
    std::fflush(stdout);
    _exit(0);
  }
  if (child > 0)
    waitpid(child, nullptr, 0);
}

// A page of `unit` repeated: its median time shown at 1 MiB over that at
// 128 KiB, the two taken in turn so that a busy moment falls on both.
void printGrowth(WKWebView &view, const std::string &name,
                 const std::string &unit) {
  const Page smallPage{name, repeated("", unit, "", kSmallBytes),
                       kTargetSeconds, std::nullopt};
  const Page largePage{name, repeated("", unit, "", kLargeBytes),
                       kTargetSeconds, std::nullopt};
  std::vector<double> smallTimes, largeTimes;
  for (int run = 0; run < kGrowthRuns; ++run) {
    smallTimes.push_back(show(view, smallPage).seconds);
    largeTimes.push_back(show(view, largePage).seconds);
  }
  const double small = median(smallTimes);
  const double large = median(largeTimes);
  std::printf("  %-34s 1 MiB %.4f s / 128 KiB %.4f s = %5.2f (target <= "
              "%.0f)\n",
              name.c_str(), large, small, large / small, kGrowthTarget);
}

} // namespace

int main() {
  const int cpu = pinToOneCpu();
  auto pages = seedPages();
  const std::string many = manyAttributes();
  pages.push_back({"60 elements x 9,999 attributes", many,
                   kManyAttributesTargetSeconds, std::nullopt});
  pages.push_back({"the same in UTF-16LE", utf16le(many),
                   kManyAttributesTargetSeconds, "UTF-16LE"});
  pages.push_back({"the same in EBCDIC (IBM037)", ebcdic(many),
                   kManyAttributesTargetSeconds, "IBM037"});
  pages.push_back({"one element of 330,000, UTF-16LE",
                   utf16le(oneElement(330000)), kTargetSeconds, "UTF-16LE"});
  pages.push_back({"20,000 linked paragraphs", curriculum(), kTargetSeconds,
                   std::nullopt, 20000});
  pages.push_back({"nesting at the depth limit", nestedAtTheLimit(),
                   kTargetSeconds, std::nullopt});
  pages.push_back({"one attribute value of 8 MiB",
                   repeated("<p title=\"", "x", "\">text</p>"), kTargetSeconds,
                   std::nullopt});
  pages.push_back({"8 MiB of entities", repeated("<p>", "&amp;", "</p>"),
                   kTargetSeconds, std::nullopt});
  pages.push_back({"8 MiB of unclosed tags", repeated("", "<b>", ""),
                   kTargetSeconds, std::nullopt});
  pages.push_back({"8 MiB of unclosed paragraphs", repeated("", "<p>x", ""),
                   kTargetSeconds, std::nullopt});
  pages.push_back({"a table of 18,000 rows", longTable(), kFloodTargetSeconds,
                   std::nullopt, 18001});

  const Page floods[] = {
      {"8 MiB of 499-attribute links", attributeFlood(499, true),
       kFloodTargetSeconds, std::nullopt},
      {"8 MiB of 40-attribute elements", attributeFlood(40, false),
       kFloodTargetSeconds, std::nullopt},
      // Behind a comment closed by "--!>".
      {"--!> then one of 100,000 attributes", oneElement(100000, kBangComment),
       kFloodTargetSeconds, std::nullopt},
      {"--!> then 499-attribute links", attributeFlood(499, true, kBangComment),
       kFloodTargetSeconds, std::nullopt},
      {"--!> then unclosed paragraphs", repeated(kBangComment, "<p>x", ""),
       kFloodTargetSeconds, std::nullopt, 0, kParagraphFloodTargetMegabytes},
      {"--!> then 20,000 linked paragraphs", kBangComment + curriculum(),
       kTargetSeconds, std::nullopt, 20000},
      // Each comment's end is searched for from the comment on: a page that
      // never writes one of the two ends must not be read to its end each time.
      {"8 MiB of <!---->", repeated("", kEmptyComment, ""), kFloodTargetSeconds,
       std::nullopt},
      {"8 MiB of <!--x--!>", repeated("", kBangClosedComment, ""),
       kFloodTargetSeconds, std::nullopt},
      {"8 MiB of paragraphs and notes", repeated("", kNotedParagraph, ""),
       kFloodTargetSeconds, std::nullopt},
      {"24,000 paragraphs of a lesson", lessonPage(), kFloodTargetSeconds,
       std::nullopt, 24000},
  };

  std::printf("html_bench: pages through loadHTMLString, one CPU (%d)\n", cpu);
  // First, before this process starts anything a fork would not carry.
  for (const auto &page : floods)
    showMeasured(page);
  auto view = WKWebView::make();
  for (const auto &page : pages)
    printLine(page, show(*view, page));
  for (const auto &[name, unit] :
       {std::pair("<!----> growth", kEmptyComment),
        std::pair("<!--x--!> growth", kBangClosedComment),
        std::pair("paragraphs and notes growth", kNotedParagraph)})
    printGrowth(*view, name, unit);
  return 0;
}
