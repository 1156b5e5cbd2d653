#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/ns_error.h"
#include "platform/foundation/url.h"
#include "platform/net/url_request.h"
#include "platform/ui/ui_view.h"
#include "platform/ui/web_document.h"

class URLSessionDataTask;

// Why a page is being loaded, in the terms both web views translate to their own.
enum class WebNavigationKind { LinkActivated, FormSubmitted, BackForward, Reload, Other };

// The loading engine under both web views: asks its host before every navigation and every
// redirect hop, fetches http(s) through a URL session with the shared cookie storage (file URLs
// from disk, HTML strings as given), parses the page and keeps the history.
//
// Loads finish on the main run loop, never inside the call that started them. A load that a newer
// one replaces, or that stopLoading ends, reports nothing more. Back and forward show the pages
// as they were loaded (no new fetch) after asking the host.
class WebViewEngine : public std::enable_shared_from_this<WebViewEngine> {
 public:
  // The view's side: its delegate's questions and the reports.
  class Host {
   public:
    virtual ~Host() = default;
    // Answers through `decide` (true goes on), at once or later.
    virtual void decidePolicy(const URLRequest& request, WebNavigationKind kind,
                              std::function<void(bool allow)> decide) = 0;
    virtual void didStartLoad() = 0;
    virtual void didReceiveRedirect() {}
    virtual void didFinishLoad() = 0;
    virtual void didFailLoad(const NSError& error) = 0;
  };

  explicit WebViewEngine(Host& host) : host_(&host) {}
  ~WebViewEngine();
  WebViewEngine(const WebViewEngine&) = delete;
  WebViewEngine& operator=(const WebViewEngine&) = delete;
  // The host is going away: nothing is reported any more and the load in flight is cancelled.
  void detach();

  void loadRequest(URLRequest request, WebNavigationKind kind = WebNavigationKind::Other);
  void loadHTMLString(std::string html, std::optional<URL> baseURL);
  void reload();
  void stopLoading();
  bool canGoBack() const { return index_ > 0; }
  bool canGoForward() const { return index_ + 1 < history_.size(); }
  void goBack();
  void goForward();

  // Follows link `number` (1-based, as the rendering numbers them); false when there is no such
  // link or its target is not a URL.
  bool activateLink(std::size_t number);
  // Follows the page's first link whose resolved target is `url`.
  bool activateLink(const URL& url);
  // Submits form `index` (0-based) with `fields` replacing or adding to its own values.
  bool submitForm(std::size_t index, const std::vector<std::pair<std::string, std::string>>& fields);

  const WebDocument& document() const { return document_; }
  // The shown page's address (the last hop after redirects) and the request that loaded it.
  const std::optional<URL>& url() const { return url_; }
  const std::optional<URLRequest>& request() const { return request_; }
  bool isLoading() const { return loading_; }
  // The address being loaded, while a load is in flight.
  const std::optional<URL>& loadingURL() const { return loadingURL_; }

 private:
  struct Page {
    URLRequest request;
    URL url;
    std::string html;
    std::optional<std::string> encoding;
  };
  struct Navigation {
    URLRequest request;
    WebNavigationKind kind = WebNavigationKind::Other;
    std::optional<std::string> html;          // given: no fetch
    std::optional<std::size_t> historyIndex;  // a move within the history
  };

  std::optional<URL> resolve(const std::string& href) const;
  void navigate(Navigation navigation);
  void start(Navigation navigation);
  void fetch(unsigned long id, const Navigation& navigation);
  void askRedirect(const std::shared_ptr<URLSessionDataTask>& task, const URLRequest& next,
                   std::function<void(std::optional<URLRequest>)> proceed);
  void finish(unsigned long id, const Navigation& navigation, std::string html, const URL& url,
              std::optional<std::string> encoding);
  void fail(unsigned long id, const NSError& error);
  void cancelTask();

  Host* host_;
  unsigned long loadId_ = 0;
  std::shared_ptr<URLSessionDataTask> task_;
  WebNavigationKind taskKind_ = WebNavigationKind::Other;
  bool loading_ = false;
  std::optional<URL> loadingURL_;
  WebDocument document_;
  std::optional<URL> url_;
  std::optional<URLRequest> request_;
  std::vector<Page> history_;
  std::size_t index_ = 0;  // meaningful when the history is not empty
};

// What both web views share: the engine, the user's drivers and the rendering (the page's text
// with its links numbered, "(loading URL)" before the first page arrives).
class WebContentView : public UIView, protected WebViewEngine::Host {
 public:
  explicit WebContentView(CGRect frame);
  ~WebContentView() override;

  // An HTML text given to load, with its base URL.
  struct HTMLString {
    std::string html;
    std::optional<URL> baseURL;
  };
  void loadRequest(const URLRequest& request) { engine_->loadRequest(request); }
  void loadHTMLString(std::string html, std::optional<URL> baseURL) {
    loadedHTMLString_ = HTMLString{html, baseURL};
    engine_->loadHTMLString(std::move(html), std::move(baseURL));
  }
  void reload() { engine_->reload(); }
  void stopLoading() { engine_->stopLoading(); }
  bool isLoading() const { return engine_->isLoading(); }
  bool canGoBack() const { return engine_->canGoBack(); }
  bool canGoForward() const { return engine_->canGoForward(); }
  void goBack() { engine_->goBack(); }
  void goForward() { engine_->goForward(); }
  const WebDocument& document() const { return engine_->document(); }
  // The last loadHTMLString's text and base URL, as given (nothing before the first).
  const std::optional<HTMLString>& loadedHTMLString() const { return loadedHTMLString_; }

  // The user: a finger on a link (by its number or its target), a form sent. Refused (false) when
  // the view cannot be touched or the page has no such link or form.
  bool tapLink(std::size_t number);
  bool tapLink(const URL& url);
  bool submitForm(std::size_t index, const std::vector<std::pair<std::string, std::string>>& fields = {});

 protected:
  void renderSelf(TextCanvas& canvas) const override;
  WebViewEngine& engine() { return *engine_; }
  const WebViewEngine& engine() const { return *engine_; }

 private:
  std::shared_ptr<WebViewEngine> engine_;
  std::optional<HTMLString> loadedHTMLString_;
};
