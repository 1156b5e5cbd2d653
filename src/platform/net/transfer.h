#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/data.h"
#include "platform/foundation/ns_error.h"
#include "platform/net/connection_slots.h"
#include "platform/net/inline_call.h"
#include "platform/net/input_stream.h"
#include "platform/net/resume_data.h"
#include "platform/net/url_authentication.h"
#include "platform/net/url_request.h"
#include "platform/net/url_response.h"
#include "platform/net/url_session.h"
#include "platform/net/url_session_delegate.h"

namespace net_detail {

// A share of the count of transfers in flight, held from the task's resume until its last
// callback has run.
std::shared_ptr<void> countTransferInFlight();
std::size_t transfersInFlight();

// The engine-side state of one task: its hops (one easy handle per request sent: redirects and
// credential retries are new hops), the delegate round trips between them, and delivery of the
// task's callbacks. Every member is used on the engine thread only; the task object reaches it
// through posted commands.
class Transfer : public std::enable_shared_from_this<Transfer> {
 public:
  enum class Kind { Data, Upload, Download };
  enum class BodySource { None, Data, File, Stream };

  struct Setup {
    Kind kind = Kind::Data;
    BodySource bodySource = BodySource::None;
    // The body to send from memory (a request's own body is shared with the request, not copied).
    std::shared_ptr<const Data> bodyData{};
    std::string bodyFilePath{};
    URLSession::DataTaskCompletion dataCompletion{};
    URLSession::DownloadTaskCompletion downloadCompletion{};
    // The task fails with this as soon as it is resumed.
    std::optional<long> failOnStart{};
    // A download that goes on from where an earlier one stopped (held apart: most transfers have
    // none, and a smaller transfer is a cheaper allocation).
    std::unique_ptr<const ResumeData> resume{};
  };

  explicit Transfer(Setup setup);
  ~Transfer();

  // Before the task is handed out: the task fails with `code` once resumed.
  void failOnStart(long code) { setup_.failOnStart = code; }

  // Commands (engine thread). `inFlight` is the resume's share of the in-flight count; the first
  // one is held until the task's last callback has run.
  void resume(std::shared_ptr<URLSessionTask> task, std::shared_ptr<void> inFlight);
  void suspend();
  void cancel(std::shared_ptr<URLSessionTask> task);
  // Cancels a download, handing what it received so far to `handler` (nothing when it cannot go on).
  void cancelProducingResumeData(std::shared_ptr<URLSessionTask> task,
                                 std::function<void(std::optional<Data>)> handler);
  // The task now belongs to `session`: later callbacks go to its delegate.
  void rebind(const std::shared_ptr<URLSessionTask>& task, std::shared_ptr<URLSession> session);

  // Engine callbacks (engine thread).
  void hopFinished(CURLcode result);
  bool checkTimeout(std::chrono::steady_clock::time_point now);
  // The wait for a connection outlasted the transfer's timeout.
  void waitTimedOut();
  std::chrono::steady_clock::time_point deadline() const;
  // When the hop's timeout runs out, whether it runs or waits for a connection.
  std::chrono::steady_clock::time_point timeoutAt() const;

  bool isFinished() const { return finished_; }
  // A response the delegate is told of without being asked waits for what follows it (its body,
  // the end) so that they reach the delegate queue together; the engine releases it at the end
  // of the next turn at the latest.
  bool holdsResponse() const { return bool(heldResponse_); }
  std::uint64_t responseHeldInTurn() const { return heldTurn_; }
  void releaseHeldResponse();

 private:
  friend class CurlEngine;
  enum class HopKind { Normal, Redirect, Challenge };
  static constexpr std::size_t kNoSlot = static_cast<std::size_t>(-1);

  static size_t headerCallback(char* buffer, size_t size, size_t nitems, void* userdata);
  static size_t writeCallback(char* ptr, size_t size, size_t nmemb, void* userdata);
  static size_t readCallback(char* buffer, size_t size, size_t nitems, void* userdata);
  static int seekCallback(void* userdata, curl_off_t offset, int origin);
  static int progressCallback(void* clientp, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                              curl_off_t ulnow);
  static int prereqCallback(void* clientp, char* primaryIP, char* localIP, int primaryPort, int localPort);

  void start(std::shared_ptr<URLSessionTask> task);
  void beginHop();
  // A connection to the hop's host within the session's limits; false: the hop waits, and begins
  // again once a hop of the session ends, or fails when its timeout runs out first.
  bool takeSlot(const URL& url);
  void releaseSlot();
  bool sendsBody() const;
  // The plain configuration the hop to `url` uses (see CurlEngine::acquireEasy), else 0.
  unsigned plainKindOf(const URL& url, bool credential) const;
  bool headerLinesAreSafe() const;
  void acceptFinalHop();
  void useCredential(const URLCredential& credential, const std::string& spaceKey, const std::string& method);
  bool prepareBody();
  void configureEasy(CURL* easy, bool primed, const URL& url, bool verifyPeer, bool credential);
  void configureConnection(CURL* easy, bool primed, const URL& url, bool verifyPeer);
  void configureCallbacks(CURL* easy, bool primed);
  void configureMethod(CURL* easy);
  void configureHeaders(CURL* easy, const URL& url);
  void endHop();
  void onHeader(std::string_view line);
  void resetAnswer(int status);
  void onHeadersComplete();
  size_t onWrite(const char* data, size_t size);
  size_t onRead(char* buffer, size_t size);
  void touch();

  void handleRedirect();
  void onRedirectDecision(std::optional<URLRequest> request);
  void handleChallenge();
  void onChallengeDecision(URLSessionAuthChallengeDisposition disposition, std::optional<URLCredential> credential,
                           const std::string& spaceKey, const URLAuthenticationChallenge& challenge);
  void askServerTrust(const URL& url);
  void onServerTrustDecision(const std::string& hostKey, URLSessionAuthChallengeDisposition disposition,
                             std::optional<URLCredential> credential);
  void onBodyStream(std::shared_ptr<InputStream> stream);

  // The current hop's response becomes the task's final response.
  void acceptResponse(const Data& bodySoFar);
  void onDisposition(URLSessionResponseDisposition disposition);
  void becomeDownload();
  void openDownloadFile();
  bool openResumeFile();
  void continueResumedDownload();
  // The resume data of a download whose file holds the body as sent; the file goes with it.
  std::optional<Data> takeResumeData();
  bool deliverBody(const char* data, size_t size);
  void finishSuccess();
  void complete(std::optional<NSError> error);
  void fail(long code);
  NSError errorForResult(CURLcode result) const;
  void updatePause();

  // Runs f(delegate, session) on the delegate queue, if the session still has a delegate.
  template <class F>
  void deliver(F&& f);
  template <class F>
  auto delegateCall(F&& f) const;
  template <class F>
  void deliverAlways(F&& f);
  bool hasDelegate() const;
  bool usesCompletionHandler() const { return bool(setup_.dataCompletion) || bool(setup_.downloadCompletion); }
  std::shared_ptr<URLSessionDataTask> dataTask() const;
  std::shared_ptr<URLSessionDownloadTask> downloadTask() const;
  double idleTimeout() const;
  // The tighter of the session's cap on a response body and the task's own.
  std::int64_t bodyCap() const;
  const Data& body() const;

  Setup setup_;
  std::shared_ptr<void> inFlight_;
  std::shared_ptr<URLSessionTask> task_;
  std::shared_ptr<URLSession> session_;
  bool started_ = false;
  bool finished_ = false;
  bool suspended_ = false;
  bool beginPending_ = false;  // a hop waits for resume()

  // The request of the current hop: the task's original one until a redirect replaces it.
  std::shared_ptr<const URLRequest> request_;
  int redirects_ = 0;
  std::map<std::string, long> failureCounts_;
  std::optional<URLCredential> hopCredential_;
  std::string hopAuthMethod_;
  std::string credentialHost_;                  // the credential goes to this "host:port" only
  std::map<std::string, bool> trustDecisions_;  // "host:port" -> verify the certificate

  // Request body.
  std::size_t bodyOffset_ = 0;
  int bodyFd_ = -1;
  std::shared_ptr<InputStream> stream_;
  bool streamUsed_ = false;
  bool streamFailed_ = false;

  // Current hop.
  CURL* easy_ = nullptr;
  std::size_t activeSlot_ = kNoSlot;  // in the engine's active transfers
  ConnectionSlots::Ticket slot_;      // the hop's connection to its host, or its wait for one
  bool waitedForSlot_ = false;        // the hop's idle time runs from the start of its wait
  unsigned plainKind_ = 0;            // the hop's plain configuration (0: none, or it was paused)
  bool hopSucceeded_ = false;         // curl finished the hop without an error
  // The request's header lines as curl reads them: nodes pointing into one buffer.
  std::string headerText_;
  std::vector<curl_slist> headerNodes_;
  URL hopURL_;
  int status_ = 0;
  std::string httpVersion_;
  HTTPHeaderFields headers_;
  std::vector<std::string> setCookieLines_;
  std::size_t lastHeader_ = kNoSlot;  // index in headers_ of the field a folded line continues
  bool headersDone_ = false;
  HopKind hopKind_ = HopKind::Normal;
  Data collected_;  // body of a redirect or challenge answer
  std::shared_ptr<const HTTPURLResponse> hopResponse_;
  std::chrono::steady_clock::time_point lastActivity_;
  std::chrono::steady_clock::duration hopIdle_{};  // idleTimeout() of the current hop
  std::chrono::steady_clock::time_point resourceDeadline_;
  curl_off_t lastUploaded_ = 0;
  bool writeFailed_ = false;
  bool bodyTooLarge_ = false;
  std::int64_t bodyCap_ = INT64_MAX;  // bodyCap(), read once the session is known
  std::int64_t answerBytes_ = 0;  // decoded body bytes of the current answer
  int sendsSinceAnswer_ = 0;      // requests curl started in this hop since the last answer
  bool resendRefused_ = false;

  // Final response.
  bool responseAccepted_ = false;
  InlineCall heldResponse_;  // see holdsResponse()
  std::shared_ptr<DispatchQueue> heldQueue_;
  std::uint64_t heldTurn_ = 0;
  bool awaitingDisposition_ = false;
  bool backpressurePaused_ = false;
  Data pending_;  // body held until the disposition arrives
  std::optional<CURLcode> doneWhileWaiting_;
  Data accumulated_;  // body for a completion handler
  std::int64_t received_ = 0;
  std::int64_t expectedToReceive_ = -1;
  bool downloadDelivered_ = false;

  // Download file.
  int downloadFd_ = -1;
  std::string downloadPath_;
  // A resumed download was answered with a range other than the one it asked for.
  bool rangeMismatch_ = false;
};

}  // namespace net_detail
