#include "platform/ui/web_content_view.h"

#include <algorithm>

#include "platform/foundation/run_loop.h"
#include "platform/net/http_cookie_storage.h"
#include "platform/net/local_file.h"
#include "platform/net/url_error.h"
#include "platform/net/url_session.h"
#include "platform/ui/render.h"

namespace {

// A page is text; anything far larger is not one a user reads.
constexpr std::int64_t kMaxPageBytes = 8 * 1024 * 1024;

// The platform's report of a load that its own policy answer stopped.
NSError frameLoadInterrupted(const URL& url) {
  return NSError("WebKitErrorDomain", 102,
                 {{NSLocalizedDescriptionKey, "Frame load interrupted"},
                  {NSURLErrorFailingURLStringErrorKey, url.absoluteString()}});
}

std::string withoutFragment(const URL& url) {
  const std::string& text = url.absoluteString();
  return text.substr(0, text.find('#'));
}

std::string formEncoded(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.' || c == '*') {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// Hands each redirect hop to the engine; holds it weakly, as the session holds its delegate.
class RedirectAsker : public URLSessionDelegate {
 public:
  using Ask = std::function<void(const std::shared_ptr<URLSessionDataTask>&, const URLRequest&,
                                 std::function<void(std::optional<URLRequest>)>)>;
  explicit RedirectAsker(Ask ask) : ask_(std::move(ask)) {}
  void willPerformHTTPRedirection(const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionTask>& task,
                                  const std::shared_ptr<const HTTPURLResponse>&, const URLRequest& newRequest,
                                  RedirectCompletion completionHandler) override {
    ask_(std::dynamic_pointer_cast<URLSessionDataTask>(task), newRequest, std::move(completionHandler));
  }

 private:
  Ask ask_;
};

}  // namespace

WebViewEngine::~WebViewEngine() { cancelTask(); }

void WebViewEngine::detach() {
  host_ = nullptr;
  ++loadId_;
  cancelTask();
}

void WebViewEngine::cancelTask() {
  if (auto task = std::exchange(task_, nullptr)) task->cancel();
}

std::optional<URL> WebViewEngine::resolve(const std::string& href) const {
  return url_ ? URL::URLWithString(href, *url_) : URL::URLWithString(href);
}

void WebViewEngine::loadRequest(URLRequest request, WebNavigationKind kind) {
  if (!request.url) return;
  navigate(Navigation{std::move(request), kind, std::nullopt, std::nullopt});
}

void WebViewEngine::loadHTMLString(std::string html, std::optional<URL> baseURL) {
  URL url = baseURL ? *baseURL : *URL::URLWithString("about:blank");
  navigate(Navigation{URLRequest(std::move(url)), WebNavigationKind::Other, std::move(html), std::nullopt});
}

void WebViewEngine::reload() {
  if (history_.empty()) return;
  const Page& page = history_[index_];
  // Pages from the network or a file are read again; a page given as a string is shown again.
  const std::string scheme = page.url.scheme().value_or("");
  const bool refetch = scheme == "http" || scheme == "https" || scheme == "file";
  navigate(
      Navigation{page.request, WebNavigationKind::Reload, refetch ? std::nullopt : std::optional(page.html), index_});
}

void WebViewEngine::stopLoading() {
  ++loadId_;
  cancelTask();
  loading_ = false;
  loadingURL_.reset();
}

void WebViewEngine::goBack() {
  if (!canGoBack()) return;
  const Page& page = history_[index_ - 1];
  navigate(Navigation{page.request, WebNavigationKind::BackForward, page.html, index_ - 1});
}

void WebViewEngine::goForward() {
  if (!canGoForward()) return;
  const Page& page = history_[index_ + 1];
  navigate(Navigation{page.request, WebNavigationKind::BackForward, page.html, index_ + 1});
}

bool WebViewEngine::activateLink(std::size_t number) {
  if (number == 0 || number > document_.links.size()) return false;
  auto target = resolve(document_.links[number - 1].href);
  if (!target) return false;
  // A jump within the page shows the same text at a new address.
  if (url_ && !history_.empty() && target->fragment() && withoutFragment(*target) == withoutFragment(*url_)) {
    Navigation jump{URLRequest(*target), WebNavigationKind::LinkActivated, history_[index_].html, std::nullopt};
    navigate(std::move(jump));
    return true;
  }
  navigate(Navigation{URLRequest(*target), WebNavigationKind::LinkActivated, std::nullopt, std::nullopt});
  return true;
}

bool WebViewEngine::activateLink(const URL& url) {
  for (std::size_t i = 0; i < document_.links.size(); ++i) {
    if (resolve(document_.links[i].href) == url) return activateLink(i + 1);
  }
  return false;
}

bool WebViewEngine::submitForm(std::size_t index, const std::vector<std::pair<std::string, std::string>>& fields) {
  if (index >= document_.forms.size()) return false;
  const WebForm& form = document_.forms[index];
  auto values = form.fields;
  for (const auto& field : fields) {
    auto it = std::find_if(values.begin(), values.end(), [&field](const auto& f) { return f.first == field.first; });
    if (it != values.end()) {
      it->second = field.second;
    } else {
      values.push_back(field);
    }
  }
  std::string body;
  for (const auto& [name, value] : values) {
    if (!body.empty()) body += '&';
    body += formEncoded(name) + "=" + formEncoded(value);
  }
  auto action = form.action.empty() ? url_ : resolve(form.action);
  if (!action) return false;
  URLRequest request;
  if (form.method == "POST") {
    request.url = *action;
    request.httpMethod = "POST";
    request.httpBody = Data::fromString(body);
    request.setValue("application/x-www-form-urlencoded", "Content-Type");
  } else {
    std::string text = action->absoluteString();
    text = text.substr(0, text.find_first_of("?#")) + "?" + body;
    request.url = URL::URLWithString(text);
    if (!request.url) return false;
  }
  navigate(Navigation{std::move(request), WebNavigationKind::FormSubmitted, std::nullopt, std::nullopt});
  return true;
}

void WebViewEngine::navigate(Navigation navigation) {
  if (!host_) return;
  const URLRequest request = navigation.request;
  const WebNavigationKind kind = navigation.kind;
  std::weak_ptr<WebViewEngine> weak = weak_from_this();
  host_->decidePolicy(request, kind, [weak, navigation = std::move(navigation)](bool allow) mutable {
    auto self = weak.lock();
    if (self && self->host_ && allow) self->start(std::move(navigation));
  });
}

void WebViewEngine::start(Navigation navigation) {
  ++loadId_;
  cancelTask();
  const unsigned long id = loadId_;
  loading_ = true;
  loadingURL_ = navigation.request.url;
  host_->didStartLoad();
  if (id != loadId_ || !host_) return;  // the report started something else
  const URL& url = *navigation.request.url;
  const std::string scheme = url.scheme().value_or("");
  // Only a local page may lead to a local file: a page from the web must not read the disk.
  const bool fromPage =
      navigation.kind == WebNavigationKind::LinkActivated || navigation.kind == WebNavigationKind::FormSubmitted;
  if (scheme == "file" && !navigation.html && fromPage && !(url_ && url_->isFileURL())) {
    RunLoop::main().post([weak = weak_from_this(), id, url] {
      if (auto self = weak.lock()) self->fail(id, URLError(NSURLErrorNoPermissionsToReadFile, url));
    });
    return;
  }
  std::weak_ptr<WebViewEngine> weak = weak_from_this();
  if (!navigation.html && (scheme == "http" || scheme == "https")) {
    fetch(id, navigation);
    return;
  }
  // Everything else is at hand: it still completes on a later turn, as a fetch would.
  RunLoop::main().post([weak, id, navigation = std::move(navigation), scheme] {
    auto self = weak.lock();
    if (!self || id != self->loadId_) return;
    const URL& target = *navigation.request.url;
    if (navigation.html) {
      self->finish(id, navigation, *navigation.html, target, std::nullopt);
    } else if (scheme == "about") {
      self->finish(id, navigation, "", target, std::nullopt);
    } else if (scheme == "file") {
      auto html = readLocalFile(target, kMaxPageBytes);
      if (!html) return self->fail(id, html.error());
      self->finish(id, navigation, std::move(*html), target, std::nullopt);
    } else {
      self->fail(id, URLError(NSURLErrorUnsupportedURL, target));
    }
  });
}

void WebViewEngine::fetch(unsigned long id, const Navigation& navigation) {
  auto configuration = URLSessionConfiguration::defaultSessionConfiguration();
  configuration.maximumResponseBodySize = kMaxPageBytes;
  // The page's cookies follow the shared storage's policy, as an app that sets it expects.
  configuration.httpCookieAcceptPolicy = HTTPCookieStorage::sharedHTTPCookieStorage()->cookieAcceptPolicy();
  std::weak_ptr<WebViewEngine> weak = weak_from_this();
  auto asker =
      std::make_shared<RedirectAsker>([weak](const std::shared_ptr<URLSessionDataTask>& task, const URLRequest& next,
                                             std::function<void(std::optional<URLRequest>)> proceed) {
        if (auto self = weak.lock()) {
          self->askRedirect(task, next, std::move(proceed));
        } else {
          proceed(std::nullopt);
        }
      });
  auto session = URLSession::sessionWithConfiguration(configuration, asker, DispatchQueue::main());
  URLRequest request = navigation.request;
  request.mainDocumentURL = request.url;
  task_ = session->dataTaskWithRequest(
      request, [weak, id, navigation](std::optional<Data> data, std::shared_ptr<const URLResponse> response,
                                      std::optional<NSError> error) {
        auto self = weak.lock();
        if (!self || id != self->loadId_) return;
        self->task_.reset();
        if (error || !data || !response) {
          return self->fail(id, error.value_or(URLError(NSURLErrorBadServerResponse, navigation.request.url)));
        }
        self->finish(id, navigation, data->toString(), response->url(), response->textEncodingName());
      });
  taskKind_ = navigation.kind;
  session->finishTasksAndInvalidate();
  task_->resume();
}

void WebViewEngine::askRedirect(const std::shared_ptr<URLSessionDataTask>& task, const URLRequest& next,
                                std::function<void(std::optional<URLRequest>)> proceed) {
  if (!host_ || !task || task != task_) return proceed(std::nullopt);
  const unsigned long id = loadId_;
  std::weak_ptr<WebViewEngine> weak = weak_from_this();
  host_->decidePolicy(next, taskKind_, [weak, id, next, proceed = std::move(proceed)](bool allow) {
    auto self = weak.lock();
    if (!self || id != self->loadId_ || !self->host_) return proceed(std::nullopt);
    if (allow) {
      self->loadingURL_ = next.url;
      self->host_->didReceiveRedirect();
      return proceed(next);
    }
    self->cancelTask();
    proceed(std::nullopt);
    self->fail(id, frameLoadInterrupted(*next.url));
  });
}

void WebViewEngine::finish(unsigned long id, const Navigation& navigation, std::string html, const URL& url,
                           std::optional<std::string> encoding) {
  document_ = WebDocument::parse(html, encoding);
  url_ = url;
  request_ = navigation.request;
  if (navigation.historyIndex && *navigation.historyIndex < history_.size()) {
    index_ = *navigation.historyIndex;
    history_[index_] = Page{navigation.request, url, std::move(html), std::move(encoding)};
  } else {
    if (!history_.empty()) history_.erase(history_.begin() + static_cast<std::ptrdiff_t>(index_) + 1, history_.end());
    history_.push_back(Page{navigation.request, url, std::move(html), std::move(encoding)});
    index_ = history_.size() - 1;
  }
  loading_ = false;
  loadingURL_.reset();
  if (host_ && id == loadId_) host_->didFinishLoad();
}

void WebViewEngine::fail(unsigned long id, const NSError& error) {
  if (id != loadId_) return;
  ++loadId_;
  loading_ = false;
  loadingURL_.reset();
  if (host_) host_->didFailLoad(error);
}

WebContentView::WebContentView(CGRect frame)
    : UIView(frame), engine_(std::make_shared<WebViewEngine>(static_cast<WebViewEngine::Host&>(*this))) {}

WebContentView::~WebContentView() { engine_->detach(); }

bool WebContentView::tapLink(std::size_t number) { return canReceiveTouches() && engine_->activateLink(number); }

bool WebContentView::tapLink(const URL& url) { return canReceiveTouches() && engine_->activateLink(url); }

bool WebContentView::submitForm(std::size_t index, const std::vector<std::pair<std::string, std::string>>& fields) {
  return canReceiveTouches() && engine_->submitForm(index, fields);
}

void WebContentView::renderSelf(TextCanvas& canvas) const {
  const auto& lines = engine_->document().lines;
  if (engine_->loadingURL() && (lines.empty() || !engine_->url())) {
    canvas.line("(loading " + engine_->loadingURL()->absoluteString() + ")");
    return;
  }
  for (const auto& line : lines) canvas.line(line);
}
