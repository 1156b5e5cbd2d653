#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/data.h"
#include "toolkit/session_fetcher.h"

// The developer's fetch log: per run a folder with an HTML index (a block per fetch), a text
// record per fetch and copies of XML and image responses, secrets cut out. Off until
// setLoggingEnabled(true); nothing in the program turns it on. Enabling installs it in the
// fetcher class.
class ZSDK_ZTKSessionFetcherLogging : public ZTKSessionFetcherLogging,
                                      public std::enable_shared_from_this<ZSDK_ZTKSessionFetcherLogging> {
 public:
  static std::shared_ptr<ZSDK_ZTKSessionFetcherLogging> shared();

  // Process-wide settings.
  static bool isLoggingEnabled();
  static void setLoggingEnabled(bool flag);
  static bool isLoggingToFileEnabled();
  static void setLoggingToFileEnabled(bool flag);
  // The documents directory + "ZTKHTTPDebugLogs", created (mode 0700) when missing; nothing when
  // it cannot be made. Setting it (or the date stamp) starts a new run folder.
  static std::optional<std::string> loggingDirectory();
  static void setLoggingDirectory(std::optional<std::string> path);
  static std::optional<std::string> logDirectoryForCurrentRun();
  static std::string loggingProcessName();
  static void setLoggingProcessName(std::optional<std::string> name);
  static std::string loggingDateStamp();
  static void setLoggingDateStamp(std::optional<std::string> stamp);
  static std::string processNameLogPrefix();
  static std::string symlinkNameSuffix() { return "_log_newest.html"; }
  static std::string htmlFileName() { return "aperçu_http_log.html"; }

  // The run folder: the first of base, base_2 ... base_19 for which `exists` is false; base_19
  // when all exist.
  static std::string chooseRunFolder(const std::string& base, const std::function<bool(const std::string&)>& exists);

  // Text helpers of the log.
  static std::optional<std::string> formattedStringFromData(const std::optional<Data>& data,
                                                            std::string_view contentType,
                                                            std::optional<std::string>* json = nullptr);
  static std::optional<std::string> stringFromStreamData(const std::optional<Data>& data, std::string_view contentType);
  static std::string headersStringForDictionary(const std::map<std::string, std::string>& headers);
  static std::optional<std::string> snipSubstringOfString(const std::optional<std::string>& text,
                                                          std::string_view startString, std::string_view endString);

  void logFetchWithError(ZSDK_ZTKSessionFetcher& fetcher, const std::optional<NSError>& error) override;
  std::shared_ptr<InputStream> loggedInputStreamForInputStream(ZSDK_ZTKSessionFetcher& fetcher,
                                                               std::shared_ptr<InputStream> inputStream) override;
  ZTKSessionFetcherBodyStreamProvider loggedStreamProviderForStreamProvider(
      ZSDK_ZTKSessionFetcher& fetcher, ZTKSessionFetcherBodyStreamProvider streamProvider) override;
};
