#include "toolkit/session_fetcher.h"

#include "platform/foundation/ascii.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>
#include <utility>

#include "platform/foundation/date_formatter.h"
#include "platform/foundation/notification_center.h"
#include "platform/net/url_error.h"
#include "toolkit/session_cookie_storage.h"
#include "toolkit/session_fetcher_internal.h"

using namespace ztk_fetcher_detail;

// ---------------------------------------------------------------------------------------------
// Properties

std::optional<Data> ZSDK_ZTKSessionFetcher::downloadedData() const { return locked(downloadedData_); }
std::int64_t ZSDK_ZTKSessionFetcher::downloadedLength() const { return locked(downloadedLength_); }
std::optional<std::int64_t> ZSDK_ZTKSessionFetcher::maximumResponseBodySize() const {
  return locked(maximumResponseBodySize_);
}
void ZSDK_ZTKSessionFetcher::setMaximumResponseBodySize(std::optional<std::int64_t> size) {
  assignLocked(maximumResponseBodySize_, size);
}
std::shared_ptr<URLRequest> ZSDK_ZTKSessionFetcher::mutableRequest() const { return locked(request_); }
void ZSDK_ZTKSessionFetcher::setMutableRequest(std::shared_ptr<URLRequest> request) {
  Lock lock(mutex_);
  request_ = std::move(request);
  redirectedToOtherOrigin_ = false;
}
std::shared_ptr<URLSession> ZSDK_ZTKSessionFetcher::session() const { return locked(session_); }
void ZSDK_ZTKSessionFetcher::setSession(std::shared_ptr<URLSession> session) {
  Lock lock(mutex_);
  if (session_ != session) {
    session_ = std::move(session);
    shouldInvalidateSession_ = session_ != nullptr;
  }
}
std::optional<URLSessionConfiguration> ZSDK_ZTKSessionFetcher::configuration() const { return locked(configuration_); }
void ZSDK_ZTKSessionFetcher::setConfiguration(std::optional<URLSessionConfiguration> configuration) {
  assignLocked(configuration_, std::move(configuration));
}
ZSDK_ZTKSessionFetcher::ConfigurationBlock ZSDK_ZTKSessionFetcher::configurationBlock() const {
  return locked(configurationBlock_);
}
void ZSDK_ZTKSessionFetcher::setConfigurationBlock(ConfigurationBlock block) {
  assignLocked(configurationBlock_, std::move(block));
}
std::shared_ptr<URLSessionTask> ZSDK_ZTKSessionFetcher::sessionTask() const { return locked(sessionTask_); }
std::optional<std::string> ZSDK_ZTKSessionFetcher::taskDescription() const { return locked(taskDescription_); }
void ZSDK_ZTKSessionFetcher::setTaskDescription(std::optional<std::string> description) {
  assignLocked(taskDescription_, std::move(description));
}
bool ZSDK_ZTKSessionFetcher::canShareSession() const { return locked(canShareSession_); }
void ZSDK_ZTKSessionFetcher::setCanShareSession(bool flag) { assignLocked(canShareSession_, flag); }
bool ZSDK_ZTKSessionFetcher::useUploadTask() const { return locked(useUploadTask_); }
void ZSDK_ZTKSessionFetcher::setUseUploadTask(bool flag) { assignLocked(useUploadTask_, flag); }
bool ZSDK_ZTKSessionFetcher::allowLocalhostRequest() const { return locked(allowLocalhostRequest_); }
void ZSDK_ZTKSessionFetcher::setAllowLocalhostRequest(bool flag) { assignLocked(allowLocalhostRequest_, flag); }
bool ZSDK_ZTKSessionFetcher::allowInvalidServerCertificates() const { return locked(allowInvalidServerCertificates_); }
void ZSDK_ZTKSessionFetcher::setAllowInvalidServerCertificates(bool flag) {
  assignLocked(allowInvalidServerCertificates_, flag);
}
std::vector<std::string> ZSDK_ZTKSessionFetcher::allowedInsecureSchemes() const {
  Lock lock(mutex_);
  return sharedInsecureSchemes_ ? *sharedInsecureSchemes_ : allowedInsecureSchemes_;
}
void ZSDK_ZTKSessionFetcher::setAllowedInsecureSchemes(std::vector<std::string> schemes) {
  Lock lock(mutex_);
  allowedInsecureSchemes_ = std::move(schemes);
  sharedInsecureSchemes_.reset();
}
std::shared_ptr<DispatchQueue> ZSDK_ZTKSessionFetcher::delegateQueue() const { return locked(delegateQueue_); }
void ZSDK_ZTKSessionFetcher::setDelegateQueue(std::shared_ptr<DispatchQueue> queue) {
  assignLocked(delegateQueue_, std::move(queue));
}
std::optional<Data> ZSDK_ZTKSessionFetcher::bodyData() const { return locked(bodyData_); }
void ZSDK_ZTKSessionFetcher::setBodyData(std::optional<Data> data) { assignLocked(bodyData_, std::move(data)); }
std::optional<URL> ZSDK_ZTKSessionFetcher::bodyFileURL() const { return locked(bodyFileURL_); }
void ZSDK_ZTKSessionFetcher::setBodyFileURL(std::optional<URL> url) { assignLocked(bodyFileURL_, std::move(url)); }
ZSDK_ZTKSessionFetcher::BodyStreamProvider ZSDK_ZTKSessionFetcher::bodyStreamProvider() const {
  return locked(bodyStreamProvider_);
}
void ZSDK_ZTKSessionFetcher::setBodyStreamProvider(BodyStreamProvider provider) {
  assignLocked(bodyStreamProvider_, std::move(provider));
}
std::shared_ptr<DispatchQueue> ZSDK_ZTKSessionFetcher::callbackQueue() const { return locked(callbackQueue_); }
void ZSDK_ZTKSessionFetcher::setCallbackQueue(std::shared_ptr<DispatchQueue> queue) {
  assignLocked(callbackQueue_, std::move(queue));
}
DispatchGroup ZSDK_ZTKSessionFetcher::callbackGroup() const { return locked(callbackGroup_); }
ZSDK_ZTKSessionFetcher::CompletionHandler ZSDK_ZTKSessionFetcher::completionHandler() const {
  return locked(completionHandler_);
}
void ZSDK_ZTKSessionFetcher::setCompletionHandler(CompletionHandler handler) {
  assignLocked(completionHandler_, std::move(handler));
}
ZSDK_ZTKSessionFetcher::AccumulateDataBlock ZSDK_ZTKSessionFetcher::accumulateDataBlock() const {
  return locked(accumulateDataBlock_);
}
void ZSDK_ZTKSessionFetcher::setAccumulateDataBlock(AccumulateDataBlock block) {
  assignLocked(accumulateDataBlock_, std::move(block));
}
ZSDK_ZTKSessionFetcher::ReceivedProgressBlock ZSDK_ZTKSessionFetcher::receivedProgressBlock() const {
  return locked(receivedProgressBlock_);
}
void ZSDK_ZTKSessionFetcher::setReceivedProgressBlock(ReceivedProgressBlock block) {
  assignLocked(receivedProgressBlock_, std::move(block));
}
ZSDK_ZTKSessionFetcher::DownloadProgressBlock ZSDK_ZTKSessionFetcher::downloadProgressBlock() const {
  return locked(downloadProgressBlock_);
}
void ZSDK_ZTKSessionFetcher::setDownloadProgressBlock(DownloadProgressBlock block) {
  assignLocked(downloadProgressBlock_, std::move(block));
}
ZSDK_ZTKSessionFetcher::SendProgressBlock ZSDK_ZTKSessionFetcher::sendProgressBlock() const {
  return locked(sendProgressBlock_);
}
void ZSDK_ZTKSessionFetcher::setSendProgressBlock(SendProgressBlock block) {
  assignLocked(sendProgressBlock_, std::move(block));
}
ZSDK_ZTKSessionFetcher::ResumeDataBlock ZSDK_ZTKSessionFetcher::resumeDataBlock() const {
  return locked(resumeDataBlock_);
}
void ZSDK_ZTKSessionFetcher::setResumeDataBlock(ResumeDataBlock block) {
  assignLocked(resumeDataBlock_, std::move(block));
}
ZSDK_ZTKSessionFetcher::DidReceiveResponseBlock ZSDK_ZTKSessionFetcher::didReceiveResponseBlock() const {
  return locked(didReceiveResponseBlock_);
}
void ZSDK_ZTKSessionFetcher::setDidReceiveResponseBlock(DidReceiveResponseBlock block) {
  assignLocked(didReceiveResponseBlock_, std::move(block));
}
ZSDK_ZTKSessionFetcher::WillRedirectBlock ZSDK_ZTKSessionFetcher::willRedirectBlock() const {
  return locked(willRedirectBlock_);
}
void ZSDK_ZTKSessionFetcher::setWillRedirectBlock(WillRedirectBlock block) {
  assignLocked(willRedirectBlock_, std::move(block));
}
ZSDK_ZTKSessionFetcher::WillCacheURLResponseBlock ZSDK_ZTKSessionFetcher::willCacheURLResponseBlock() const {
  return locked(willCacheURLResponseBlock_);
}
void ZSDK_ZTKSessionFetcher::setWillCacheURLResponseBlock(WillCacheURLResponseBlock block) {
  assignLocked(willCacheURLResponseBlock_, std::move(block));
}
ZSDK_ZTKSessionFetcher::RetryBlock ZSDK_ZTKSessionFetcher::retryBlock() const { return locked(retryBlock_); }
void ZSDK_ZTKSessionFetcher::setRetryBlock(RetryBlock block) { assignLocked(retryBlock_, std::move(block)); }
ZSDK_ZTKSessionFetcher::TestBlock ZSDK_ZTKSessionFetcher::testBlock() const { return locked(testBlock_); }
void ZSDK_ZTKSessionFetcher::setTestBlock(TestBlock block) { assignLocked(testBlock_, std::move(block)); }
bool ZSDK_ZTKSessionFetcher::isUsingTestBlock() const { return locked(isUsingTestBlock_); }
std::shared_ptr<ZTKFetcherAuthorizationProtocol> ZSDK_ZTKSessionFetcher::authorizer() const {
  return locked(authorizer_);
}
void ZSDK_ZTKSessionFetcher::setAuthorizer(std::shared_ptr<ZTKFetcherAuthorizationProtocol> authorizer) {
  assignLocked(authorizer_, std::move(authorizer));
}
std::shared_ptr<ZTKSessionFetcherServiceProtocol> ZSDK_ZTKSessionFetcher::service() const { return locked(service_); }
void ZSDK_ZTKSessionFetcher::setService(std::shared_ptr<ZTKSessionFetcherServiceProtocol> service) {
  assignLocked(service_, std::move(service));
}
void ZSDK_ZTKSessionFetcher::setUpForService(const ZTKSessionFetcherServiceSettings& settings,
                                             const URLRequest& request, ZTKSessionFetcherServiceSetUp setUp) {
  std::optional<std::shared_ptr<HTTPCookieStorage>> methodStorage;
  const long cookieStorageMethod = setUp.cookieStorageMethod;
  switch (cookieStorageMethod) {
    case 1: break;
    case 2: methodStorage = HTTPCookieStorage::sharedHTTPCookieStorage(); break;
    case 3: methodStorage = std::make_shared<ZSDK_ZTKSessionCookieStorage>(); break;
    default:
      if (cookieStorageMethod >= 0) methodStorage = nullptr;
      break;
  }
  const bool addUserAgent =
      settings.userAgent && !settings.userAgent->empty() && !request.valueForHTTPHeaderField("User-Agent");
  Lock lock(mutex_);
  if (setUp.callbackQueue) callbackQueue_ = std::move(setUp.callbackQueue);
  credential_ = settings.credential;
  proxyCredential_ = settings.proxyCredential;
  authorizer_ = std::move(setUp.authorizer);
  cookieStorage_ = settings.cookieStorage;
  allowedInsecureSchemes_.clear();
  sharedInsecureSchemes_ = std::move(setUp.allowedInsecureSchemes);
  allowLocalhostRequest_ = settings.allowLocalhostRequest;
  allowInvalidServerCertificates_ = settings.allowInvalidServerCertificates;
  configurationBlock_ = settings.configurationBlock;
  // Unchanged, it would only take the lock again.
  if (settings.retryEnabled != isRetryEnabled_) setRetryEnabled(settings.retryEnabled);
  retryBlock_ = settings.retryBlock;
  maxRetryInterval_ = settings.maxRetryInterval > 0 ? settings.maxRetryInterval : -1.0;
  minRetryInterval_ = settings.minRetryInterval > 0 ? settings.minRetryInterval : randomMinRetryInterval();
  if (settings.properties) properties_ = settings.properties;
  service_ = std::move(setUp.service);
  if (methodStorage) cookieStorage_ = std::move(*methodStorage);
  if (addUserAgent && request_) request_->setValue(*settings.userAgent, "User-Agent");
  testBlock_ = settings.testBlock;
}
std::optional<std::string> ZSDK_ZTKSessionFetcher::serviceHost() const { return locked(serviceHost_); }
void ZSDK_ZTKSessionFetcher::setServiceHost(std::optional<std::string> host) {
  assignLocked(serviceHost_, std::move(host));
}
std::optional<std::string> ZSDK_ZTKSessionFetcher::requestHostKey(bool record) {
  Lock lock(mutex_);
  if (!request_ || !request_->url) return std::nullopt;
  std::optional<std::string> host = request_->url->host();
  if (!host || host->empty())
    host = request_->url->isFileURL() ? std::optional<std::string>("localhost") : std::nullopt;
  if (host && record) serviceHost_ = host;
  return host;
}
std::optional<std::string> ZSDK_ZTKSessionFetcher::takeServiceHost(
    std::shared_ptr<ZSDK_ZTKSessionFetcherSessionDelegateDispatcher>& mappedDispatcher) {
  Lock lock(mutex_);
  mappedDispatcher = std::exchange(mappedDispatcher_, {}).lock();
  return std::exchange(serviceHost_, std::nullopt);
}
std::shared_ptr<URLSessionTask> ZSDK_ZTKSessionFetcher::taskMappedBy(
    const std::shared_ptr<ZSDK_ZTKSessionFetcherSessionDelegateDispatcher>& dispatcher) {
  Lock lock(mutex_);
  mappedDispatcher_ = dispatcher;
  return sessionTask_;
}
std::int64_t ZSDK_ZTKSessionFetcher::servicePriority() const { return servicePriority_.load(); }
void ZSDK_ZTKSessionFetcher::setServicePriority(std::int64_t priority) { servicePriority_.store(priority); }
std::optional<URLCredential> ZSDK_ZTKSessionFetcher::credential() const { return locked(credential_); }
void ZSDK_ZTKSessionFetcher::setCredential(std::optional<URLCredential> credential) {
  assignLocked(credential_, std::move(credential));
}
std::optional<URLCredential> ZSDK_ZTKSessionFetcher::proxyCredential() const { return locked(proxyCredential_); }
void ZSDK_ZTKSessionFetcher::setProxyCredential(std::optional<URLCredential> credential) {
  assignLocked(proxyCredential_, std::move(credential));
}
std::shared_ptr<HTTPCookieStorage> ZSDK_ZTKSessionFetcher::cookieStorage() const { return locked(cookieStorage_); }
void ZSDK_ZTKSessionFetcher::setCookieStorage(std::shared_ptr<HTTPCookieStorage> storage) {
  assignLocked(cookieStorage_, std::move(storage));
}
std::any ZSDK_ZTKSessionFetcher::userData() const { return locked(userData_); }
void ZSDK_ZTKSessionFetcher::setUserData(std::any userData) { assignLocked(userData_, std::move(userData)); }
ZSDK_ZTKSessionFetcher::Properties ZSDK_ZTKSessionFetcher::properties() const {
  Lock lock(mutex_);
  return properties_.value_or(Properties());
}
void ZSDK_ZTKSessionFetcher::setProperties(Properties properties) { assignLocked(properties_, std::move(properties)); }
void ZSDK_ZTKSessionFetcher::setProperty(std::any value, const std::string& key) {
  Lock lock(mutex_);
  if (!value.has_value()) {
    if (properties_) properties_->erase(key);
    return;
  }
  if (!properties_) properties_.emplace();
  (*properties_)[key] = std::move(value);
}
std::any ZSDK_ZTKSessionFetcher::propertyForKey(const std::string& key) const {
  Lock lock(mutex_);
  if (!properties_) return {};
  auto it = properties_->find(key);
  return it == properties_->end() ? std::any() : it->second;
}
void ZSDK_ZTKSessionFetcher::addPropertiesFromDictionary(const Properties& properties) {
  Lock lock(mutex_);
  if (!properties_) {
    properties_ = properties;
    return;
  }
  for (const auto& [key, value] : properties) (*properties_)[key] = value;
}
std::optional<std::string> ZSDK_ZTKSessionFetcher::comment() const {
  Lock lock(mutex_);
  // The default is made only when asked for: most fetchers never are.
  if (!commentSet_) return "(No fetcher comment set)";
  return comment_;
}
void ZSDK_ZTKSessionFetcher::setComment(std::optional<std::string> comment) {
  Lock lock(mutex_);
  comment_ = std::move(comment);
  commentSet_ = true;
}
bool ZSDK_ZTKSessionFetcher::userStoppedFetching() const {
  return userStoppedFetching_.load(std::memory_order_acquire);
}
Date ZSDK_ZTKSessionFetcher::initialRequestDate() const {
  Lock lock(mutex_);
  return initialRequestDate_.value_or(Date{});
}
bool ZSDK_ZTKSessionFetcher::isRetryEnabled() const { return locked(isRetryEnabled_); }
void ZSDK_ZTKSessionFetcher::setRetryEnabled(bool flag) {
  Lock lock(mutex_);
  if (flag && !isRetryEnabled_) {
    setMinRetryInterval(0.0);
    setMaxRetryInterval(-1.0);
    setRetryFactor(2.0);
    lastRetryInterval_ = 0.0;
  }
  isRetryEnabled_ = flag;
}
TimeInterval ZSDK_ZTKSessionFetcher::maxRetryInterval() const { return locked(maxRetryInterval_); }
void ZSDK_ZTKSessionFetcher::setMaxRetryInterval(TimeInterval seconds) {
  assignLocked(maxRetryInterval_, seconds > 0 ? seconds : -1.0);
}
TimeInterval ZSDK_ZTKSessionFetcher::minRetryInterval() const { return locked(minRetryInterval_); }
void ZSDK_ZTKSessionFetcher::setMinRetryInterval(TimeInterval seconds) {
  const TimeInterval value = seconds > 0 ? seconds : randomMinRetryInterval();
  Lock lock(mutex_);
  minRetryInterval_ = value;
}
double ZSDK_ZTKSessionFetcher::retryFactor() const { return locked(retryFactor_); }
void ZSDK_ZTKSessionFetcher::setRetryFactor(double factor) { assignLocked(retryFactor_, factor); }
std::uint64_t ZSDK_ZTKSessionFetcher::retryCount() const { return locked(retryCount_); }
std::shared_ptr<Timer> ZSDK_ZTKSessionFetcher::retryTimer() const { return locked(retryTimer_); }
std::optional<std::string> ZSDK_ZTKSessionFetcher::sessionIdentifier() const { return locked(sessionIdentifier_); }
void ZSDK_ZTKSessionFetcher::setSessionIdentifier(std::optional<std::string> identifier) {
  {
    Lock lock(mutex_);
    sessionIdentifier_ = std::move(identifier);
    useBackgroundSession_ = true;
    canShareSession_ = false;
  }
  const auto metadata = sessionIdentifierMetadata();
  if (!metadata) return;
  Lock lock(mutex_);
  for (auto [key, field] : {std::pair{"_destURL", &destinationFileURL_}, std::pair{"_bodyURL", &bodyFileURL_}}) {
    const auto found = metadata->find(key);
    if (found == metadata->end() || !found->second.asString()) continue;
    if (auto url = URL::URLWithString(*found->second.asString())) *field = *url;
  }
}
std::optional<std::string> ZSDK_ZTKSessionFetcher::sessionIdentifierUUID() const {
  return locked(sessionIdentifierUUID_);
}
bool ZSDK_ZTKSessionFetcher::useBackgroundSession() const { return useBackgroundSession_.load(); }
void ZSDK_ZTKSessionFetcher::setUseBackgroundSession(bool flag) {
  Lock lock(mutex_);
  useBackgroundSession_.store(flag);
}
std::optional<Value::Dictionary> ZSDK_ZTKSessionFetcher::sessionUserInfo() {
  if (auto own = locked(sessionUserInfo_)) return own;
  auto metadata = sessionIdentifierMetadata();
  if (!metadata) return std::nullopt;
  std::erase_if(*metadata, [](const auto& entry) { return entry.first.rfind('_', 0) == 0; });
  if (metadata->empty()) return std::nullopt;
  return metadata;
}
void ZSDK_ZTKSessionFetcher::setSessionUserInfo(std::optional<Value::Dictionary> userInfo) {
  assignLocked(sessionUserInfo_, std::move(userInfo));
}
std::optional<URL> ZSDK_ZTKSessionFetcher::destinationFileURL() const { return locked(destinationFileURL_); }
void ZSDK_ZTKSessionFetcher::setDestinationFileURL(std::optional<URL> url) {
  Lock lock(mutex_);
  if (destinationFileURL_ != url) destinationFileURL_ = std::move(url);
}
std::optional<Data> ZSDK_ZTKSessionFetcher::downloadResumeData() const { return locked(downloadResumeData_); }
void ZSDK_ZTKSessionFetcher::setDownloadResumeData(std::optional<Data> data) {
  assignLocked(downloadResumeData_, std::move(data));
}
std::optional<NSError> ZSDK_ZTKSessionFetcher::downloadMoveError() const { return locked(downloadMoveError_); }
std::optional<std::string> ZSDK_ZTKSessionFetcher::log() const { return locked(log_); }
void ZSDK_ZTKSessionFetcher::setLog(std::optional<std::string> log) { assignLocked(log_, std::move(log)); }
std::optional<Data> ZSDK_ZTKSessionFetcher::loggedStreamData() const { return locked(loggedStreamData_); }
void ZSDK_ZTKSessionFetcher::setLoggedStreamData(std::optional<Data> data) {
  assignLocked(loggedStreamData_, std::move(data));
}
std::optional<URL> ZSDK_ZTKSessionFetcher::redirectedFromURL() const { return locked(redirectedFromURL_); }
void ZSDK_ZTKSessionFetcher::setRedirectedFromURL(std::optional<URL> url) {
  assignLocked(redirectedFromURL_, std::move(url));
}
std::optional<std::string> ZSDK_ZTKSessionFetcher::logRequestBody() const { return locked(logRequestBody_); }
void ZSDK_ZTKSessionFetcher::setLogRequestBody(std::optional<std::string> body) {
  assignLocked(logRequestBody_, std::move(body));
}
std::optional<std::string> ZSDK_ZTKSessionFetcher::logResponseBody() const { return locked(logResponseBody_); }
void ZSDK_ZTKSessionFetcher::setLogResponseBody(std::optional<std::string> body) {
  assignLocked(logResponseBody_, std::move(body));
}
bool ZSDK_ZTKSessionFetcher::hasLoggedError() const { return locked(hasLoggedError_); }
bool ZSDK_ZTKSessionFetcher::deferResponseBodyLogging() const { return locked(deferResponseBodyLogging_); }
void ZSDK_ZTKSessionFetcher::setDeferResponseBodyLogging(bool flag) {
  std::shared_ptr<DispatchQueue> queue;
  {
    Lock lock(mutex_);
    if (flag == deferResponseBodyLogging_) return;
    deferResponseBodyLogging_ = flag;
    if (!flag && !hasLogged_) queue = delegateQueue_;
  }
  // Logging was held back for the body; the body is complete now.
  if (queue) {
    auto self = shared_from_this();
    queue->async([self] { self->logNowWithError(std::nullopt); });
  }
}
