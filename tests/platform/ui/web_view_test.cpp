#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "platform/net/http_cookie_storage.h"
#include "platform/net/url_error.h"
#include "platform/ui/render.h"
#include "platform/ui/ui_web_view.h"
#include "platform/ui/wk_web_view.h"
#include "support/fake_backend.h"
#include "support/temp_dir.h"
#include "support/virtual_time.h"

namespace {

ScriptedReply page(std::string html, std::vector<std::pair<std::string, std::string>> headers = {}) {
  return {.status = 200, .headers = std::move(headers), .body = std::move(html), .contentType = "text/html"};
}

ScriptedReply redirect(const std::string& to) { return {.status = 302, .headers = {{"Location", to}}}; }

std::string encoded(std::string_view utf8, const char* charset) {
  iconv_t converter = iconv_open(charset, "UTF-8");
  EXPECT_NE(converter, reinterpret_cast<iconv_t>(-1)) << charset;
  std::string out(utf8.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size(), outLeft = out.size();
  char* to = out.data();
  iconv(converter, &in, &inLeft, &to, &outLeft);
  iconv_close(converter);
  out.resize(out.size() - outLeft);
  return out;
}

// Answers every navigation with the policy of the moment, counting link taps.
class DecidingNavigationDelegate : public WKNavigationDelegate {
 public:
  void decidePolicyForNavigationAction(WKWebView&, const WKNavigationAction& action,
                                       std::function<void(WKNavigationActionPolicy)> handler) override {
    if (action.navigationType == WKNavigationType::LinkActivated) ++linkTaps;
    handler(policy);
  }
  WKNavigationActionPolicy policy = WKNavigationActionPolicy::Allow;
  int linkTaps = 0;
};

class RecordingWebViewDelegate : public UIWebViewDelegate {
 public:
  std::string refuse;  // a path whose load is refused
  std::vector<std::string> log;

  bool shouldStartLoadWithRequest(UIWebView&, const URLRequest& request, UIWebViewNavigationType) override {
    log.push_back("should " + request.url->path());
    return request.url->path() != refuse;
  }
  void webViewDidFinishLoad(UIWebView& view) override {
    log.push_back("finish " + view.stringByEvaluatingJavaScriptFromString("document.title"));
  }
  void didFailLoadWithError(UIWebView&, const NSError& error) override {
    log.push_back("fail " + std::to_string(error.code));
  }
};

class WebViewTest : public testing::Test {
 protected:
  VirtualTime time;
  FakeBackend server;
};

}  // namespace

TEST(WebDocumentTest, ExtractsTitleTextAndLinksFromRealAndMalformedPages) {
  struct Case {
    const char* html;
    std::optional<std::string> title;
    std::vector<std::string> lines;
    std::vector<std::string> hrefs;
  };
  const Case cases[] = {
      {"<html><head><title> News\n today </title><style>p{}</style></head><body><h1>Hello</h1>"
       "<p>Read the <a href='/terms'>terms</a> and <a href=\"b.html\">more</a>.</p><script>x()</script></body></html>",
       "News today",
       {"Hello", "Read the terms [1] and more [2]."},
       {"/terms", "b.html"}},
      // Unclosed tags, a stray end tag, no head or body, entities.
      {"<title>A &amp; B</title><div>one<p>two</div></span><li>three &lt;4&gt;<li><a href=x>x",
       "A & B",
       {"one", "two", "three <4>", "x [1]"},
       {"x"}},
      {"<p>no title<br>second line</p><a name=top>anchor</a><a href='/empty'></a>",
       std::nullopt,
       {"no title", "second line", "anchor [1]"},
       {"/empty"}},
      // A button's text is on one line, as any text.
      {"<form><input type=submit value=\"Send\n  now\"></form>", std::nullopt, {"[Send now]"}, {}},
      {"", std::nullopt, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.html);
    const WebDocument document = WebDocument::parse(c.html, "no-such-charset");
    EXPECT_EQ(document.title, c.title);
    EXPECT_EQ(document.lines, c.lines);
    std::vector<std::string> hrefs;
    for (const auto& link : document.links) hrefs.push_back(link.href);
    EXPECT_EQ(hrefs, c.hrefs);
  }
}

TEST(WebDocumentTest, TheParsersWorkIsBoundedAndACutPageSaysSo) {
  using web_document_detail::withinBudget;
  using Budget = web_document_detail::WorkBudget;
  // Quoted values may hold blanks and '>'; comments, scripts and text are not tags.
  const std::tuple<std::string, Budget, std::optional<std::string>, bool> scans[] = {
      {"<p a='x > y' b=1 c>t</p><!-- <i d e f> -->", {.attributes = 2}, "<p a='x > y' b=1 >t</p><!-- <i d e f> -->", false},
      {"<p a b>x < y</p>", {.attributes = 2}, std::nullopt, false},
      // The attribute budget is each element's; the page's counts what the parser is given.
      {"<p a b><i c d e>", {.attributes = 2}, "<p a b><i c d >", false},
      {"<p a b c><i d><b e f>", {.attributes = 2, .pageAttributes = 3}, "<p a b ><i d><b >", false},
      {"<p a=1 b=2 c=3><i d=4 e=5>", {.tagAttributeBytes = 4}, "<p a=1 b=2 ><i d=4 e=5>", false},
      {"<script>if (a<b && c) x='</p>';</script><p q r s>", {.attributes = 2},
       "<script>if (a<b && c) x='</p>';</script><p q r >", false},
      // Tags, comments and references count; the page ends before the first one over the budget.
      {"<p>a&amp;b & c</p><!-- x --><i>", {.structures = 3}, "<p>a&amp;b & c</p>", true},
      {"<p>a&amp;b & c</p>", {.structures = 3}, std::nullopt, false},
  };
  for (const auto& [html, budget, kept, restCut] : scans) {
    const auto page = withinBudget(html, budget);
    EXPECT_EQ(std::pair(page.html, page.restCut), std::pair(kept, restCut)) << html;
    // Only the case given a page budget spends it.
    EXPECT_EQ(page.pageAttributesCut, budget.pageAttributes == 3) << html;
  }

  std::string manyAttributes = "<p";
  for (std::size_t i = 0; i <= WebDocument::kMaxAttributes; ++i) manyAttributes += " a" + std::to_string(i) + "=1";
  manyAttributes += ">kept</p>";
  std::string twoElements;
  for (int element = 0; element < 2; ++element) {
    twoElements += "<p";
    for (int i = 0; i < 6000; ++i) twoElements += " a" + std::to_string(i) + "=1";
    twoElements += ">kept</p>";
  }
  std::string pageOver;  // no element over its own budget
  for (std::size_t n = 0; n * 100 <= WebDocument::kMaxPageAttributes; ++n) {
    pageOver += "<p";
    for (int i = 0; i < 100; ++i) pageOver += " a" + std::to_string(i);
    pageOver += ">kept</p>";
  }
  std::string manyTags = "<p>shown</p>";
  for (int i = 0; i < 300000; ++i) manyTags += "<br>";
  std::string deep;
  for (int i = 0; i < 300; ++i) deep += "<div>";
  deep += "too deep";
  // What a page still shows, and how it ends: a text over the parser's limit keeps its start.
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {manyAttributes, WebDocument::kCutAttributesLine, "kept"},
      {twoElements, WebDocument::kCutAttributesLine, "kept"},
      {pageOver, WebDocument::kCutPageAttributesLine, "kept"},
      {manyTags + "<p>not parsed", "shown", WebDocument::kCutRestLine},
      {"<p>shown</p>" + deep, "shown", WebDocument::kCutRestLine},
      {"<p>shown</p><p>" + std::string(11 * 1024 * 1024, 'a'), "shown", WebDocument::kCutRestLine},
  };
  for (const auto& [html, first, last] : cases) {
    const auto lines = WebDocument::parse(html).lines;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(std::tuple(lines.front(), lines.back()), std::tuple(first, last)) << html.substr(0, 40);
  }
}

// Each form the parser reads as text must end for the budget where it ends for the parser: the
// tag behind it is budgeted exactly when the parser reads it as a tag.
TEST(WebDocumentTest, TheBudgetReadsEveryTextFormAsFarAsTheParser) {
  using web_document_detail::withinBudget;
  const std::string tag = "<p a b c>t</p>";
  const std::string cut = "<p a b >t</p>";
  const std::string longName(250, 'n');
  const std::pair<std::string, std::optional<std::string>> pages[] = {
      // Comments end at "-->" and at "--!>", not within "<!-->" or "<!--->".
      {"<!-- x --!>" + tag, "<!-- x --!>" + cut},
      {"<!-- x ---!>" + tag, "<!-- x ---!>" + cut},
      {"<!---->" + tag, "<!---->" + cut},
      {"<!-- a --!><!-- b -->" + tag + "<!-- c --!>" + tag, "<!-- a --!><!-- b -->" + cut + "<!-- c --!>" + cut},
      {"<!-->" + tag, std::nullopt},
      {"<!--->" + tag, std::nullopt},
      // Other "<!", a "<?" or "</" without a name: text, and the tag behind them is read.
      {"<![CDATA[" + tag + "]]>", "<![CDATA[" + cut + "]]>"},
      {"<!x " + tag, "<!x " + cut},
      {"<? " + tag, "<? " + cut},
      {"</ " + tag, "</ " + cut},
      {"<?x " + tag, std::nullopt},
      {"</x " + tag, std::nullopt},
      // A declaration's quoted strings hold '>'; a quote elsewhere in it does not.
      {"<!DOCTYPE html PUBLIC \"a>b\" \"c>d\">" + tag, "<!DOCTYPE html PUBLIC \"a>b\" \"c>d\">" + cut},
      {"<!doctype html system 'a>" + tag + "'>", std::nullopt},
      {"<!DOCTYPE html \"a>" + tag, "<!DOCTYPE html \"a>" + cut},
      // A script closed as "/>" has no text; one ends only at its own end tag.
      {"<script/>" + tag, "<script/>" + cut},
      {"<script>x</scriptx>" + tag + "</SCRIPT >" + tag, "<script>x< /scriptx>" + tag + "</SCRIPT >" + cut},
      // At a script's start an end tag could close an element around it: it is kept in the text.
      {"<div><script></div>" + tag, "<div><script>< /div>" + tag},
      {"<style><body>" + tag, "<style>< body>" + tag},
      // Attribute names as the parser reads them: what starts none is passed over up to a blank,
      // a long one is read a hundred characters at a time, and a form feed is no blank.
      {"<p =\"a b c d\">", "<p =\"a b c >"},
      {"<p " + longName + ">", "<p " + longName.substr(0, 200) + ">"},
      {"<p a\fb\fc>", std::nullopt},
  };
  for (const auto& [html, kept] : pages) {
    EXPECT_EQ(withinBudget(html, {.attributes = 2}).html, kept) << html;
  }
}

// Most pages never write one of the two ends of a comment: a scan that looked for it from each
// comment would read the rest of the page every time.
TEST(WebDocumentTest, TheBudgetReadsAPageOfCommentsAFewTimesOver) {
  for (const std::string unit : {"<!---->", "<!--x--!>", "<p>x</p><!-- note -->"}) {
    std::string page;
    while (page.size() < 16 * 1024) page += unit;
    EXPECT_LE(web_document_detail::withinBudget(page).bytesRead, 8 * page.size() + 64) << unit;
  }
}

TEST(WebDocumentTest, AnElementBehindACommentClosedByBangIsBudgeted) {
  std::string element = "<p";
  for (std::size_t i = 0; i <= WebDocument::kMaxAttributes; ++i) element += " a" + std::to_string(i);
  element += ">kept</p><p>THE END</p>";
  for (const std::string close : {"--!>", "---!>"}) {
    const auto lines = WebDocument::parse("<!-- x " + close + element).lines;
    EXPECT_EQ(lines, (std::vector<std::string>{WebDocument::kCutAttributesLine, "kept", "THE END"})) << close;
  }
}

// Keeps: a page of 250,000 tags is parsed whole (a curriculum of 20,000 linked paragraphs, below,
// has 120,000; a table of 18,000 rows 234,000). Stops: a flood of paragraphs at the budget, whose
// tree and text take some 105 MB on the main queue.
TEST(WebDocumentTest, TheBudgetOfStructuresKeepsLongPagesAndStopsAFloodOfParagraphs) {
  std::string tags;
  for (int i = 0; i < 250000; ++i) tags += "<br>";
  EXPECT_EQ(web_document_detail::withinBudget(tags).html, std::nullopt);
  while (tags.size() < 4 * WebDocument::kMaxStructures) tags += "<br>";
  EXPECT_TRUE(web_document_detail::withinBudget(tags + "&amp;").restCut);

  std::string flood;
  while (flood.size() < 4 * (WebDocument::kMaxStructures + 1)) flood += "<p>x";
  const auto lines = WebDocument::parse(flood).lines;
  ASSERT_EQ(lines.size(), WebDocument::kMaxStructures + 1);
  EXPECT_EQ(lines.back(), WebDocument::kCutRestLine);
}

TEST(WebDocumentTest, ALongPageKeepsEveryLinkUncut) {
  constexpr int kParagraphs = 20000;
  std::string html;
  for (int n = 1; n <= kParagraphs; ++n) {
    const std::string number = std::to_string(n);
    html += "<p class=\"exercise\" style=\"margin:0 0 8px 0\"><span lang=\"en\">Exercise " + number +
            ": see <a href=\"/answers/" + number + "\">the worked answer</a></span></p>\n";
  }
  const WebDocument document = WebDocument::parse(html);
  ASSERT_EQ(document.links.size(), static_cast<std::size_t>(kParagraphs));
  EXPECT_EQ(document.links.back().href, "/answers/20000");
  ASSERT_EQ(document.lines.size(), static_cast<std::size_t>(kParagraphs)) << "no cut line";
  EXPECT_EQ(document.lines.back(), "Exercise 20000: see the worked answer [20000]");
}

TEST(WebDocumentTest, EveryCharsetIsReadAsUTF8AndBudgetedAlike) {
  std::string overBudget = "<p";
  for (std::size_t i = 0; i <= WebDocument::kMaxAttributes; ++i) overBudget += " a" + std::to_string(i) + "=1";
  overBudget += ">caf\u00e9</p>";
  const std::vector<std::string> cut = {WebDocument::kCutAttributesLine, "caf\u00e9"};
  // Built into the parser, through iconv, through ICU only.
  for (const auto& [charset, encoder] :
       {std::pair("UTF-16LE", "UTF-16LE"), std::pair("IBM037", "IBM037"), std::pair("ibm-1047_P100-1995", "IBM1047")}) {
    EXPECT_EQ(WebDocument::parse(encoded(overBudget, encoder), charset).lines, cut) << charset;
  }

  // Unreadable bytes and NULs become U+FFFD and the page goes on.
  const std::string utf16 =
      encoded("<p>a", "UTF-16LE") + std::string("\x00\xDC", 2) + encoded("z</p><p>more</p>", "UTF-16LE");
  const std::string utf32 =
      encoded("<p>a", "UTF-32LE") + std::string("\x00\x00\x11\x00", 4) + encoded("z</p><p>more</p>", "UTF-32LE");
  const std::vector<std::string> replaced = {"a\uFFFDz", "more"};
  const std::tuple<std::string, std::optional<std::string>, std::vector<std::string>> pages[] = {
      {"<p>a\xFFz</p><p>more</p>", std::nullopt, replaced},
      {"<p>a\x80z</p><p>more</p>", "US-ASCII", replaced},
      {utf16, "UTF-16LE", replaced},
      {utf32, "UTF-32LE", replaced},
      {utf16, "UTF16_PlatformEndian", replaced},
      {std::string("<\0p>Algebra</p><p>more</p>", 26), std::nullopt, {"\uFFFDp>Algebra", "more"}},
  };
  for (const auto& [html, charset, lines] : pages) {
    EXPECT_EQ(WebDocument::parse(html, charset).lines, lines) << charset.value_or("UTF-8");
  }
}

TEST_F(WebViewTest, TheWKDelegateCancelsOrAllowsALinkTap) {
  server.reply("GET", "/next", page("<title>Next</title><p>Next page</p>"));
  auto view = WKWebView::make({0, 0, 320, 480});
  auto delegate = std::make_shared<DecidingNavigationDelegate>();
  view->setNavigationDelegate(delegate);
  view->loadHTMLString("<a href='next'>Go</a>", URL::URLWithString(server.baseUrl()));
  ASSERT_TRUE(time.runUntil([&] { return view->url().has_value(); }));
  delegate->policy = WKNavigationActionPolicy::Cancel;
  ASSERT_TRUE(view->tapLink(1));
  time.runUntilIdle();
  EXPECT_EQ(renderOnOneLine(*view), "Go [1]");
  delegate->policy = WKNavigationActionPolicy::Allow;
  ASSERT_TRUE(view->tapLink(1));
  ASSERT_TRUE(time.runUntil([&] { return !view->isLoading(); }));
  EXPECT_EQ(renderOnOneLine(*view), "Next page");
  EXPECT_EQ(delegate->linkTaps, 2);
  EXPECT_EQ(server.requestCount(), 1u) << "the cancelled tap loads nothing";
}

TEST_F(WebViewTest, EveryRedirectHopIsAskedAndARefusedHopEndsTheLoad) {
  struct Case {
    std::string refuse;
    std::vector<std::string> log;
    std::size_t requests;
  };
  const Case cases[] = {
      {"", {"should /a", "should /b", "should /c", "finish Landed"}, 3},
      {"/b", {"should /a", "should /b", "fail 102"}, 1},
  };
  server.reply("GET", "/a", redirect("/b"));
  server.reply("GET", "/b", redirect(server.url("c")));
  server.reply("GET", "/c", page("<title>Landed</title>"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refuse);
    const auto before = server.requestCount();
    auto view = UIWebView::make();
    auto delegate = std::make_shared<RecordingWebViewDelegate>();
    delegate->refuse = c.refuse;
    view->setDelegate(delegate);
    view->loadRequest(URLRequest(*URL::URLWithString(server.url("a"))));
    ASSERT_TRUE(time.runUntil([&] { return delegate->log.size() == c.log.size(); }));
    EXPECT_EQ(delegate->log, c.log);
    EXPECT_EQ(server.requestCount() - before, c.requests);
  }
}

TEST_F(WebViewTest, WithoutADelegateAUIWebViewSubmitsFormsWithTheSharedCookiesAndKeepsHistory) {
  server.reply("GET", "/form",
               page("<title>Sign in</title><form method=post action=/login>"
                    "<input name=user><input type=hidden name=step value=1>"
                    "<input type=submit value=Send></form>",
                    {{"Set-Cookie", "webviewtest=abc; Path=/"}}));
  server.reply("POST", "/login", page("<title>Welcome</title>"));
  auto view = UIWebView::make();
  view->loadRequest(URLRequest(*URL::URLWithString(server.url("form"))));
  ASSERT_TRUE(time.runUntil([&] { return view->request().has_value(); }));
  EXPECT_EQ(renderOnOneLine(*view), "[Send]");

  ASSERT_TRUE(view->submitForm(0, {{"user", "ann lee"}}));
  ASSERT_TRUE(
      time.runUntil([&] { return view->stringByEvaluatingJavaScriptFromString("document.title") == "Welcome"; }));
  const auto post = server.lastRequest();
  EXPECT_EQ(post->body, "user=ann+lee&step=1");
  EXPECT_EQ(post->header("Cookie"), "webviewtest=abc");

  ASSERT_TRUE(view->canGoBack());
  view->goBack();
  ASSERT_TRUE(time.runUntil([&] { return !view->isLoading(); }));
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString(" document.title; "), "Sign in");
  EXPECT_TRUE(view->canGoForward());
  EXPECT_EQ(server.requestCount(), 2u);  // back shows the page as loaded
  for (const auto& cookie : HTTPCookieStorage::sharedHTTPCookieStorage()->cookies()) {
    if (cookie.name == "webviewtest") HTTPCookieStorage::sharedHTTPCookieStorage()->deleteCookie(cookie);
  }
}

TEST_F(WebViewTest, APageOverItsCapFailsAndOnlyALocalPageLeadsToALocalFile) {
  server.reply("GET", "/huge",
               {.body = std::string(9 * 1024 * 1024, 'a'), .contentType = "text/html", .deflate = true});
  TempDir dir;
  const std::string local = dir.str() + "/local.html";
  const std::string huge = dir.str() + "/huge.html";
  std::filesystem::resize_file((std::ofstream(huge), huge), 9 * 1024 * 1024);
  ASSERT_EQ(::mkfifo((dir.str() + "/pipe.html").c_str(), 0600), 0);
  std::ofstream(local) << "<a href='huge.html'>huge</a> <a href='pipe.html'>pipe</a> <a href='file:///dev/zero'>endless</a>";
  auto view = UIWebView::make();
  auto delegate = std::make_shared<RecordingWebViewDelegate>();
  view->setDelegate(delegate);
  auto last = [&] { return delegate->log.empty() ? std::string() : delegate->log.back(); };
  view->loadRequest(URLRequest(*URL::URLWithString(server.url("huge"))));
  ASSERT_TRUE(time.runUntil([&] { return last().starts_with("fail"); }, 20));
  EXPECT_EQ(last(), "fail " + std::to_string(NSURLErrorDataLengthExceedsMaximum));
  // A page from the web links to a file: refused, the page stays.
  view->loadHTMLString("<a href='file:///etc/hostname'>host</a>", URL::URLWithString(server.baseUrl()));
  ASSERT_TRUE(time.runUntil([&] { return last().starts_with("finish"); }));
  ASSERT_TRUE(view->tapLink(1));
  ASSERT_TRUE(time.runUntil([&] { return last().starts_with("fail"); }));
  EXPECT_EQ(std::tuple(last(), renderOnOneLine(*view)),
            std::tuple("fail " + std::to_string(NSURLErrorNoPermissionsToReadFile), std::string("host [1]")));
  // A local page may: a file over the cap fails, and so does anything but a regular file.
  for (const auto& [link, code] : {std::pair(1, NSURLErrorDataLengthExceedsMaximum),
                                   std::pair(2, NSURLErrorFileDoesNotExist), std::pair(3, NSURLErrorFileDoesNotExist)}) {
    view->loadRequest(URLRequest(URL::fileURLWithPath(local)));
    ASSERT_TRUE(time.runUntil([&] { return last().starts_with("finish"); }));
    ASSERT_TRUE(view->tapLink(static_cast<std::size_t>(link)));
    ASSERT_TRUE(time.runUntil([&] { return last().starts_with("fail"); }, 20));
    EXPECT_EQ(last(), "fail " + std::to_string(code)) << link;
  }
}
