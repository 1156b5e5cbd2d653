#include "toolkit/session_fetcher_logging.h"

#include <fmt/format.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <system_error>

#include "platform/foundation/ascii.h"
#include "platform/foundation/class_registry.h"
#include "platform/foundation/date_formatter.h"
#include "platform/foundation/text.h"
#include "platform/foundation/user_defaults.h"
#include "toolkit/read_monitor_input_stream.h"
#include "toolkit/session_fetcher_internal.h"

namespace fs = std::filesystem;
using ztk_fetcher_detail::consoleLog;

namespace {

constexpr const char* kSnip = "_snip_";
constexpr std::uintmax_t kBodyFileLogLimit = 50000;

// Settings are copied strings behind one lock; the counter and the once-only flags are atomic so
// that fetchers on several queues may log at the same time.
struct LogState {
  std::mutex mutex;
  bool enabled = false;
  bool toFile = true;
  std::optional<std::string> directory;
  std::optional<std::string> processName;
  std::optional<std::string> dateStamp;
  std::optional<std::string> runFolder;
  bool runFolderProbed = false;
};

LogState& logState() {
  static auto* state = new LogState();
  return *state;
}

std::atomic<int> fetchCounter{0};
std::atomic<bool> locationAnnounced{false};

// Creates every missing level, private to the user: the log holds request and response bodies.
bool createPrivateDirectories(const fs::path& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) return true;
  if (path.has_parent_path() && path.parent_path() != path && !createPrivateDirectories(path.parent_path()))
    return false;
  return ::mkdir(path.c_str(), 0700) == 0 || fs::is_directory(path, ec);
}

std::string readProcessName() {
  std::ifstream comm("/proc/self/comm");
  std::string name;
  std::getline(comm, name);
  return name.empty() ? "dorvale" : name;
}

std::string stringFromDate(Date date, const char* format, bool utc) {
  DateFormatter formatter(format);
  formatter.setLocale("en_US_POSIX");
  if (utc) formatter.setTimeZone("UTC");
  return formatter.stringFromDate(date);
}

std::optional<std::string> utf8Text(const Data& data) {
  if (!isValidUTF8(data.view())) return std::nullopt;
  return data.toString();
}

std::optional<Data> fileContents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Data(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}));
}

void writeFile(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    consoleLog(fmt::format("{} logging write error:{} ({})", path.filename().string(), std::strerror(errno),
                           "{NSFilePath=" + path.string() + "}"));
  }
}

// Values of form fields that carry secrets, every occurrence; unless `anywhere`, a name matches
// at the start or after "&" only ("code=" is not "postcode=").
std::string snipFormField(std::string text, std::string_view name, bool anywhere) {
  for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
    if (!anywhere && at != 0 && text[at - 1] != '&') continue;
    const std::size_t start = at + name.size();
    const std::size_t end = std::min(text.find('&', start), text.size());
    text.replace(start, end - start, kSnip);
  }
  return text;
}

std::size_t findIgnoringCase(std::string_view text, std::string_view part, std::size_t from) {
  if (from > text.size()) return std::string::npos;
  const auto found = std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), part.begin(),
                                 part.end(), [](char a, char b) { return asciiLower(a) == asciiLower(b); });
  return found == text.end() ? std::string::npos : static_cast<std::size_t>(found - text.begin());
}

// Every text after `start` (in any case) up to `end` becomes the snip mark.
std::string snipEvery(std::string text, std::string_view start, std::string_view end) {
  for (std::size_t at = findIgnoringCase(text, start, 0); at != std::string::npos;) {
    const std::size_t from = at + start.size();
    const std::size_t to = std::min(text.find(end, from), text.size());
    text.replace(from, to - from, kSnip);
    at = findIgnoringCase(text, start, from + std::strlen(kSnip));
  }
  return text;
}

std::string loggedHeaderValue(std::string_view name, std::string value) {
  if (asciiEqualIgnoringCase(name, "Cookie") || asciiEqualIgnoringCase(name, "Set-Cookie")) return kSnip;
  if (!asciiEqualIgnoringCase(name, "Authorization")) return value;
  value = snipEvery(std::move(value), "oauth_token=\"", "\"");
  for (const char* scheme : {"Bearer ", "OAuth ", "ZedodoLogin auth=", "Basic "}) value = snipEvery(value, scheme, "\n");
  return value;
}

std::string snippedRequestBody(std::string text) {
  for (const char* field : {"client_secret=", "refresh_token="}) text = snipFormField(std::move(text), field, true);
  for (const char* field : {"Passwd=", "code=", "assertion="}) text = snipFormField(std::move(text), field, false);
  return text;
}

std::map<std::string, std::string> headerMap(const HTTPHeaderFields& fields) {
  std::map<std::string, std::string> map;
  for (const auto& [name, value] : fields) map[name] = value;
  return map;
}

std::string percentEscapedFileName(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if (std::isalnum(c) || c == '.' || c == '_' || c == '-') {
      out += static_cast<char>(c);
    } else {
      out += fmt::format("%{:02X}", c);
    }
  }
  return out;
}

// What one entry logs of a fetcher, read once.
struct FetchSnapshot {
  std::string comment;
  std::shared_ptr<URLRequest> request;
  std::shared_ptr<const HTTPURLResponse> response;
  std::optional<HTTPHeaderFields> responseHeaders;
  std::optional<Data> responseData;
  std::int64_t responseLength = 0;
  std::optional<URL> destination;
  std::optional<Data> requestBody;
  std::optional<URL> redirectedFrom;
  int status = 0;
};

FetchSnapshot snapshot(ZSDK_ZTKSessionFetcher& fetcher) {
  FetchSnapshot s;
  s.comment = fetcher.comment().value_or("");
  s.request = fetcher.mutableRequest();
  s.response = std::dynamic_pointer_cast<const HTTPURLResponse>(fetcher.response());
  s.responseHeaders = fetcher.responseHeaders();
  s.destination = fetcher.destinationFileURL();
  if (fetcher.downloadedLength() >= 1) {
    s.responseData = fetcher.downloadedData();
  } else if (s.destination) {
    s.responseData = fileContents(s.destination->path());
  }
  s.responseLength = s.responseData ? static_cast<std::int64_t>(s.responseData->size()) : 0;
  s.requestBody = fetcher.loggedStreamData();
  if (!s.requestBody) s.requestBody = fetcher.bodyData();
  if (!s.requestBody && s.request) s.requestBody = s.request->httpBody;
  if (!s.requestBody) {
    if (auto file = fetcher.bodyFileURL()) {
      std::error_code ec;
      const auto size = fs::file_size(file->path(), ec);
      if (!ec && size < kBodyFileLogLimit) s.requestBody = fileContents(file->path());
    }
  }
  s.redirectedFrom = fetcher.redirectedFromURL();
  s.status = fetcher.statusCode();
  return s;
}

struct ResponseFile {
  std::string name;
  std::string extension;
  bool image = false;
};

// XML and images get a copy of their own next to the index.
std::optional<ResponseFile> writeResponseFile(const fs::path& runFolder, int number, const std::string& mimeType,
                                              const std::optional<Data>& data, const std::optional<std::string>& text) {
  if (!data) return std::nullopt;
  ResponseFile file;
  if (mimeType == "application/atom+xml" || (mimeType.size() >= 4 && mimeType.ends_with("/xml"))) {
    if (!text) return std::nullopt;
    file.extension = "xml";
  } else if (mimeType == "image/jpeg") {
    file.extension = "jpg";
  } else if (mimeType == "image/gif") {
    file.extension = "gif";
  } else if (mimeType == "image/png") {
    file.extension = "png";
  } else {
    return std::nullopt;
  }
  file.image = file.extension != "xml";
  file.name = fmt::format("fetch_{}_response.{}", number, file.extension);
  writeFile(runFolder / file.name, file.image ? data->view() : std::string_view(*text));
  return file;
}

std::string requestHTML(const FetchSnapshot& s, const std::optional<std::string>& bodyText) {
  std::string html;
  if (s.redirectedFrom) {
    html +=
        fmt::format("<FONT COLOR='#990066'><i>redirected from {}</i></FONT><br>", s.redirectedFrom->absoluteString());
  }
  const std::string method = s.request ? s.request->httpMethod : "";
  const std::string url = s.request && s.request->url ? s.request->url->absoluteString() : "";
  html += fmt::format("<b>request:</b> {} <code>{}</code><br>\n", method, url);
  const HTTPHeaderFields headers = s.request ? s.request->allHTTPHeaderFields : HTTPHeaderFields();
  if (headers.empty()) {
    html += "&nbsp;&nbsp; headers: none<br>";
  } else {
    std::string notes;
    if (headers.contains("Authorization")) {
      const bool insecure = s.request->url && s.request->url->scheme() == std::optional<std::string>("http");
      notes += insecure ? "&nbsp;&nbsp;&nbsp;<i>authorized, non-SSL</i><FONT COLOR='#FF00FF'> &#x26A0;</FONT> "
                        : "&nbsp;&nbsp;&nbsp;<i>authorized</i>";
    }
    if (headers.contains("Cookie")) notes += "&nbsp;&nbsp;&nbsp;<i>cookies</i>";
    if (headers.contains("If-Match")) notes += "&nbsp;&nbsp;&nbsp;<i>if-match</i>";
    if (headers.contains("If-None-Match")) notes += "&nbsp;&nbsp;&nbsp;<i>if-none-match</i>";
    html += fmt::format("&nbsp;&nbsp; headers: {}  {}<br>", headers.size(), notes);
  }
  if (bodyText) {
    html += fmt::format("&nbsp;&nbsp; data: {} bytes, <code>{}</code><br>\n", s.requestBody->size(),
                        headers.valueForHTTPHeaderField("Content-Type").value_or("(no type)"));
  }
  return html;
}

std::string jsonErrorHTML(const std::optional<std::string>& json) {
  if (!json) return "";
  const auto parsed = nlohmann::json::parse(*json, nullptr, false);
  if (!parsed.is_object() || !parsed.contains("error") || !parsed["error"].is_object()) return "";
  const auto& error = parsed["error"];
  if (!error.contains("code") && !error.contains("message")) return "";
  const auto text = [&](const char* key) {
    if (!error.contains(key)) return std::string();
    return error[key].is_string() ? error[key].get<std::string>() : error[key].dump();
  };
  return fmt::format("&nbsp;&nbsp;&nbsp;<i>JSON error:</i> <FONT COLOR='#FF00FF'>{} {} &nbsp;&#x2691;</FONT>",
                     text("code"), text("message"));
}

std::string responseHTML(const FetchSnapshot& s, const std::optional<std::string>& json,
                         const std::optional<NSError>& error, const std::optional<ResponseFile>& file,
                         const std::string& mimeType) {
  std::string status = s.status == 200 ? fmt::format("{}", s.status)
                                       : fmt::format("<FONT COLOR='#FF00FF'>{} {} {}</FONT>", s.status,
                                                     HTTPURLResponse::localizedStringForStatusCode(s.status),
                                                     s.status > 399 ? "&nbsp;&#x2691;" : "");
  status += jsonErrorHTML(json);
  std::string html;
  if (s.response && s.request && s.request->url && s.response->url() != *s.request->url) {
    html += fmt::format("<FONT COLOR='#FF00FF'>response URL:</FONT> <code>{}</code><br>\n",
                        s.response->url().absoluteString());
  }
  std::string headersLine = "&nbsp;&nbsp; headers: none<br>\n";
  if (s.responseHeaders && !s.responseHeaders->empty()) {
    const bool cookies = s.responseHeaders->contains("Set-Cookie");
    const bool redirects = s.responseHeaders->contains("Location") && s.status >= 300 && s.status <= 399;
    headersLine = fmt::format("&nbsp;&nbsp; headers: {}  {} {}<br>\n", s.responseHeaders->size(),
                              cookies ? "&nbsp;&nbsp;<FONT COLOR='#990066'><i>sets cookies</i></FONT>" : "",
                              redirects ? "&nbsp;&nbsp;<FONT COLOR='#990066'><i>redirects</i></FONT>" : "");
  }
  html += fmt::format("<b>response:</b>&nbsp;&nbsp;status {}<br>\n{}", status, headersLine);
  if (error) html += fmt::format("<b>Error:</b> {} <br>\n", error->description());
  if (file) {
    html += fmt::format("&nbsp;&nbsp; data: {} bytes, <code>{}</code><br>", s.responseLength, mimeType);
    const std::string escaped = percentEscapedFileName(file->name);
    if (file->image) {
      html += fmt::format("<a href=\"{}\"><img src='{}' alt='image' style='border:solid thin;max-height:32'></a>\n",
                          escaped, escaped);
    } else {
      html +=
          fmt::format("&nbsp;&nbsp; data: {} bytes, <code>{}</code>&nbsp;&nbsp;&nbsp;<i><a href=\"{}\">{}</a></i>\n",
                      s.responseLength, mimeType, escaped, file->extension);
    }
  } else {
    html += fmt::format("&nbsp;&nbsp; data: {} bytes, <code>{}</code>\n", s.responseLength,
                        mimeType.empty() ? "(no response type)" : mimeType);
  }
  return html;
}

std::string textRecord(const FetchSnapshot& s, const std::string& date, const std::optional<std::string>& bodyText,
                       const std::optional<std::string>& responseText, const std::optional<std::string>& logBody,
                       const std::optional<NSError>& error) {
  std::string text = fmt::format("{}\n\n{}\n", s.comment, date);
  if (s.redirectedFrom) text += fmt::format("Redirected from {}\n", s.redirectedFrom->absoluteString());
  const std::string method = s.request ? s.request->httpMethod : "";
  const std::string url = s.request && s.request->url ? s.request->url->absoluteString() : "";
  text += fmt::format("Request: {} {}\n", method, url);
  text += fmt::format("Request headers:\n{}\n", ZSDK_ZTKSessionFetcherLogging::headersStringForDictionary(
                                                    s.request ? headerMap(s.request->allHTTPHeaderFields)
                                                              : std::map<std::string, std::string>()));
  if (bodyText) text += fmt::format("Request body: ({} bytes)\n{}\n\n", s.requestBody->size(), *bodyText);
  text += fmt::format("Response: status {}\n", s.status);
  text += fmt::format("Response headers:\n{}\n",
                      ZSDK_ZTKSessionFetcherLogging::headersStringForDictionary(
                          s.responseHeaders ? headerMap(*s.responseHeaders) : std::map<std::string, std::string>()));
  text += fmt::format("Response body: ({} bytes)\n", s.responseLength);
  if (logBody) {
    text += *logBody + "\n";
  } else if (s.responseLength >= 1 && responseText) {
    text += *responseText + "\n";
  } else if (s.destination) {
    text += fmt::format("<<{} bytes>>  to file {}\n", s.responseLength, s.destination->path());
  } else {
    text += fmt::format("<<{} bytes>>\n", s.responseLength);
  }
  if (error) text += fmt::format("Error: {}\n", error->description());
  return text;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Settings

std::shared_ptr<ZSDK_ZTKSessionFetcherLogging> ZSDK_ZTKSessionFetcherLogging::shared() {
  static auto* logging =
      new std::shared_ptr<ZSDK_ZTKSessionFetcherLogging>(std::make_shared<ZSDK_ZTKSessionFetcherLogging>());
  return *logging;
}

bool ZSDK_ZTKSessionFetcherLogging::isLoggingEnabled() {
  std::lock_guard lock(logState().mutex);
  return logState().enabled;
}

void ZSDK_ZTKSessionFetcherLogging::setLoggingEnabled(bool flag) {
  {
    std::lock_guard lock(logState().mutex);
    logState().enabled = flag;
  }
  if (flag) ZSDK_ZTKSessionFetcher::setLogging(shared());
}

bool ZSDK_ZTKSessionFetcherLogging::isLoggingToFileEnabled() {
  std::lock_guard lock(logState().mutex);
  return logState().toFile;
}

void ZSDK_ZTKSessionFetcherLogging::setLoggingToFileEnabled(bool flag) {
  std::lock_guard lock(logState().mutex);
  logState().toFile = flag;
}

std::optional<std::string> ZSDK_ZTKSessionFetcherLogging::loggingDirectory() {
  auto& state = logState();
  std::lock_guard lock(state.mutex);
  if (state.directory) return state.directory;
  const std::string path = UserDefaults::applicationDataDirectory() + "/Documents/ZTKHTTPDebugLogs";
  if (!createPrivateDirectories(path)) return std::nullopt;
  state.directory = path;
  return path;
}

void ZSDK_ZTKSessionFetcherLogging::setLoggingDirectory(std::optional<std::string> path) {
  auto& state = logState();
  std::lock_guard lock(state.mutex);
  state.directory = std::move(path);
  state.runFolder.reset();
  state.runFolderProbed = false;
}

std::string ZSDK_ZTKSessionFetcherLogging::loggingProcessName() {
  std::string name;
  {
    std::lock_guard lock(logState().mutex);
    name = logState().processName.value_or(readProcessName());
  }
  std::replace(name.begin(), name.end(), ' ', '_');
  return name;
}

void ZSDK_ZTKSessionFetcherLogging::setLoggingProcessName(std::optional<std::string> name) {
  std::lock_guard lock(logState().mutex);
  logState().processName = std::move(name);
}

std::string ZSDK_ZTKSessionFetcherLogging::loggingDateStamp() {
  auto& state = logState();
  std::lock_guard lock(state.mutex);
  if (!state.dateStamp) state.dateStamp = stringFromDate(Date::now(), "M-dd_hh-mm-ssa", false);
  return *state.dateStamp;
}

void ZSDK_ZTKSessionFetcherLogging::setLoggingDateStamp(std::optional<std::string> stamp) {
  auto& state = logState();
  std::lock_guard lock(state.mutex);
  state.dateStamp = std::move(stamp);
  state.runFolder.reset();
  state.runFolderProbed = false;
}

std::string ZSDK_ZTKSessionFetcherLogging::processNameLogPrefix() {
  return fmt::format("{}_log_", loggingProcessName());
}

std::string ZSDK_ZTKSessionFetcherLogging::chooseRunFolder(const std::string& base,
                                                           const std::function<bool(const std::string&)>& exists) {
  if (!exists(base)) return base;
  for (int i = 2; i < 19; ++i) {
    const std::string candidate = fmt::format("{}_{}", base, i);
    if (!exists(candidate)) return candidate;
  }
  return base + "_19";
}

std::optional<std::string> ZSDK_ZTKSessionFetcherLogging::logDirectoryForCurrentRun() {
  {
    std::lock_guard lock(logState().mutex);
    if (logState().runFolderProbed || !logState().toFile) return logState().runFolder;
  }
  const auto directory = loggingDirectory();
  std::optional<std::string> chosen;
  if (directory) {
    const std::string base = (fs::path(*directory) / (processNameLogPrefix() + loggingDateStamp())).string();
    const std::string folder = chooseRunFolder(base, [](const std::string& path) {
      std::error_code ec;
      return fs::exists(path, ec);
    });
    if (createPrivateDirectories(folder)) chosen = folder;
  }
  auto& state = logState();
  std::lock_guard lock(state.mutex);
  // A fetch on another queue may have probed meanwhile: the first answer stays.
  if (!state.runFolderProbed) {
    state.runFolder = chosen;
    state.runFolderProbed = true;
  }
  return state.runFolder;
}

// ---------------------------------------------------------------------------------------------
// Text helpers

std::optional<std::string> ZSDK_ZTKSessionFetcherLogging::formattedStringFromData(const std::optional<Data>& data,
                                                                                  std::string_view contentType,
                                                                                  std::optional<std::string>* json) {
  if (!data) return std::nullopt;
  if (contentType.starts_with("application/json") && data->size() >= 6) {
    auto parsed = nlohmann::json::parse(data->view(), nullptr, false);
    if (!parsed.is_discarded()) {
      if (json) *json = parsed.dump();
      if (parsed.is_object()) {
        for (const char* key : {"refresh_token", "access_token", "id_token"}) {
          if (parsed.contains(key)) parsed[key] = kSnip;
        }
      }
      return parsed.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    }
  }
  return utf8Text(*data);
}

std::optional<std::string> ZSDK_ZTKSessionFetcherLogging::stringFromStreamData(const std::optional<Data>& data,
                                                                               std::string_view contentType) {
  if (!data) return std::nullopt;
  if (auto formatted = formattedStringFromData(data, contentType)) return formatted;
  std::string cleaned = data->toString();
  for (char& c : cleaned) {
    if (c == '\0' || static_cast<unsigned char>(c) >= 0x80) c = '_';
  }
  const std::string boundary = cleaned.substr(0, cleaned.find("\r\n"));
  if (!boundary.starts_with("--") || boundary.size() == cleaned.size())
    return fmt::format("<<{} bytes>>", data->size());
  // Multipart: text pieces stay, binary ones shrink to their headers and a count.
  std::string out;
  std::size_t start = 0;
  for (bool first = true;; first = false) {
    const std::size_t found = cleaned.find(boundary, start);
    const std::size_t end = found == std::string::npos ? cleaned.size() : found;
    if (!first) out += boundary;
    const std::string original = data->toString().substr(start, end - start);
    if (isValidUTF8(original)) {
      out += original;
    } else {
      const std::size_t headerEnd = original.find("\r\n\r\n");
      const std::string headers = headerEnd == std::string::npos ? "" : original.substr(0, headerEnd + 4);
      out += fmt::format("\r{}\r<<{} bytes>>\r", headers, original.size() - headers.size());
    }
    if (found == std::string::npos) break;
    start = found + boundary.size();
  }
  return out;
}

std::optional<std::string> ZSDK_ZTKSessionFetcherLogging::snipSubstringOfString(const std::optional<std::string>& text,
                                                                                std::string_view startString,
                                                                                std::string_view endString) {
  if (!text) return std::nullopt;
  const std::size_t at = text->find(startString);
  if (at == std::string::npos) return text;
  const std::size_t start = at + startString.size();
  const std::size_t end = std::min(text->find(endString, start), text->size());
  std::string out = *text;
  out.replace(start, end - start, kSnip);
  return out;
}

std::string ZSDK_ZTKSessionFetcherLogging::headersStringForDictionary(
    const std::map<std::string, std::string>& headers) {
  std::string out;
  for (const auto& [name, value] : headers) out += fmt::format("  {}: {}\n", name, loggedHeaderValue(name, value));
  return out;
}

// ---------------------------------------------------------------------------------------------
// Log entry

void ZSDK_ZTKSessionFetcherLogging::logFetchWithError(ZSDK_ZTKSessionFetcher& fetcher,
                                                      const std::optional<NSError>& error) {
  if (!isLoggingEnabled()) return;
  const auto runFolder = logDirectoryForCurrentRun();
  if (!runFolder) return;
  const bool toFile = isLoggingToFileEnabled();
  const int number = ++fetchCounter;
  const FetchSnapshot s = snapshot(fetcher);
  const std::string mimeType = s.response ? s.response->mimeType().value_or("") : "";
  const std::string contentType =
      s.responseHeaders ? s.responseHeaders->valueForHTTPHeaderField("Content-Type").value_or("") : "";

  std::optional<std::string> json;
  const auto responseText = formattedStringFromData(s.responseData, contentType, &json);
  std::optional<ResponseFile> responseFile;
  if (toFile) responseFile = writeResponseFile(*runFolder, number, mimeType, s.responseData, responseText);

  const Date now = Date::now();
  const std::string date = stringFromDate(now, "yyyy-MM-dd HH:mm:ss Z", true);
  const std::string textFileName = fmt::format("fetch_{}.txt", number);
  std::string html;
  const fs::path htmlPath = fs::path(*runFolder) / htmlFileName();
  std::error_code ec;
  if (toFile && !fs::exists(htmlPath, ec)) {
    html += fmt::format(
        "<html><head><meta http-equiv=\"content-type\" content=\"text/html; charset=UTF-8\">"
        "<title>{} HTTP fetch log {}</title>",
        loggingProcessName(), loggingDateStamp());
  }
  html += fmt::format("<b>{} &nbsp;&nbsp;&nbsp;&nbsp; ", date);
  if (!s.comment.empty()) html += fmt::format("{} &nbsp;&nbsp;&nbsp;&nbsp; ", s.comment);
  html += fmt::format("</b><a href='{}'><i>request/response log</i></a><br>", textFileName);

  std::optional<std::string> bodyText;
  if (s.requestBody) {
    bodyText = fetcher.logRequestBody();
    if (bodyText) {
      fetcher.setLogRequestBody(std::nullopt);
    } else {
      const std::string requestType = s.request ? s.request->valueForHTTPHeaderField("Content-Type").value_or("") : "";
      bodyText = stringFromStreamData(s.requestBody, requestType);
      if (bodyText) bodyText = snippedRequestBody(std::move(*bodyText));
    }
    if (!bodyText) bodyText = "";
  }
  html += requestHTML(s, bodyText);
  fetcher.setRedirectedFromURL(s.request ? s.request->url : std::nullopt);
  html += responseHTML(s, json, error, responseFile, mimeType);

  const auto logBody = fetcher.logResponseBody();
  if (logBody) fetcher.setLogResponseBody(std::nullopt);
  const std::string record = textRecord(s, date, bodyText, responseText, logBody, error);
  fetcher.setLog(record);
  if (!toFile) return;

  writeFile(fs::path(*runFolder) / textFileName,
            record + "-----------------------------------------------------------\n");
  html += "<br><hr><p>";
  std::ofstream(htmlPath, std::ios::binary | std::ios::app) << html;
  if (const auto directory = loggingDirectory()) {
    const fs::path link = fs::path(*directory) / (processNameLogPrefix() + symlinkNameSuffix());
    fs::remove(link, ec);
    fs::create_symlink(htmlPath, link, ec);
    if (!locationAnnounced.exchange(true)) consoleLog(fmt::format("ZTKSessionFetcher logging to \"{}\"", *directory));
  }
}

// ---------------------------------------------------------------------------------------------
// Uploaded streams

std::shared_ptr<InputStream> ZSDK_ZTKSessionFetcherLogging::loggedInputStreamForInputStream(
    ZSDK_ZTKSessionFetcher& fetcher, std::shared_ptr<InputStream> inputStream) {
  if (!inputStream || !isLoggingEnabled()) return inputStream;
  fetcher.setLoggedStreamData(std::nullopt);
  const auto factory = ClassRegistry::shared().lookup<ZSDK_ZTKReadMonitorInputStream, std::shared_ptr<InputStream>>(
      "ZTKReadMonitorInputStream", kZTKClassPrefix);
  if (!factory) {
    fetcher.setLoggedStreamData(
        Data::fromString("<<Uploaded stream log unavailable without ZTKReadMonitorInputStream>>"));
    return inputStream;
  }
  auto monitor = factory(std::move(inputStream));
  const std::shared_ptr<ZSDK_ZTKSessionFetcher> owner = fetcher.shared_from_this();
  monitor->setReadDelegate(owner);
  std::weak_ptr<ZSDK_ZTKSessionFetcher> weak = owner;
  monitor->setReadSelector([weak](ZSDK_ZTKReadMonitorInputStream&, const std::uint8_t* buffer, std::int64_t length) {
    auto target = weak.lock();
    if (!target) return;
    Data logged = target->loggedStreamData().value_or(Data());
    logged.bytes.insert(logged.bytes.end(), buffer, buffer + length);
    target->setLoggedStreamData(std::move(logged));
  });
  return monitor;
}

ZTKSessionFetcherBodyStreamProvider ZSDK_ZTKSessionFetcherLogging::loggedStreamProviderForStreamProvider(
    ZSDK_ZTKSessionFetcher& fetcher, ZTKSessionFetcherBodyStreamProvider streamProvider) {
  if (!streamProvider || !isLoggingEnabled()) return streamProvider;
  const bool hasMonitor =
      static_cast<bool>(ClassRegistry::shared().lookup<ZSDK_ZTKReadMonitorInputStream, std::shared_ptr<InputStream>>(
          "ZTKReadMonitorInputStream", kZTKClassPrefix));
  if (!hasMonitor) return streamProvider;
  std::weak_ptr<ZSDK_ZTKSessionFetcher> weak = fetcher.shared_from_this();
  auto self = shared_from_this();
  return [self, weak, streamProvider](ZTKSessionFetcherBodyStreamProviderResponse response) {
    streamProvider([self, weak, response](std::shared_ptr<InputStream> stream) {
      auto target = weak.lock();
      response(target ? self->loggedInputStreamForInputStream(*target, std::move(stream)) : std::move(stream));
    });
  };
}
