#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "catalog.h"
#include "connection_front.h"
#include "data_dir.h"
#include "store.h"
#include "zedodo_provider.h"

namespace sample_api {
struct Route;
}

struct SampleServerSettings {
  // How long the fake Zedodo's access tokens live.
  std::chrono::seconds zedodoTokenLifetime{3600};
  Store::Options store;
  // What the bodies of calls, and what is parsed from them, may hold at once; past it calls are
  // refused for a moment.
  std::size_t heldBodies = 256 << 20;
};

// The backend API under "/BrevantTest/" on 127.0.0.1, over the content of the catalog and the
// state of the store in the data directory; under "/facebook/" a fake Facebook login dialog and
// Graph API for one person; under "/zedodo/" a fake Zedodo identity provider (ZedodoProvider).
class SampleServer {
 public:
  static constexpr const char* kDemoEmail = "demo@example.com";
  static constexpr const char* kDemoPassword = "demo-pass";

  // Opens (or makes) the state in `dataDir` and the demo account in it. Throws std::runtime_error.
  explicit SampleServer(const std::filesystem::path& dataDir, const SampleServerSettings& settings = {});

  // Binds 127.0.0.1:`port` (0: any free port); the port, or -1.
  int bind(int port);
  // Serves until stop(), or until a call finds its data directory gone: that call and any after it
  // are answered 503, and run() returns.
  void run() { http_.listenAfterBind(); }
  void stop() { http_.stop(); }
  // Why it stopped by itself: what PrivateDir::whyGone() told.
  std::optional<std::string> dataDirGone() const;

  Store& store() { return store_; }

 private:
  void routes();
  // A POST route whose body is read as it arrives, up to the call's cap, once `admit` (when given)
  // lets the call in by its head; what `admit` throws is the answer.
  void post(const char* pattern, httplib::Server::Handler handler,
            std::function<void(const httplib::Request&)> admit = nullptr);
  void receive(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader,
               const httplib::Server::Handler& handler, const std::function<void(const httplib::Request&)>& admit);
  // Refuses a call to an authorized route without a valid token before its body is read.
  void admit(const httplib::Request& request);
  // The most a call's body may bring, by its head: much for a call with a token, little for others.
  std::size_t bodyCap(const httplib::Request& head) const;
  // The same, once the token is checked; 0 when it is not valid.
  std::size_t admittedBody(const httplib::Request& head);
  void dispatch(const httplib::Request& request, httplib::Response& response);
  // The account a call's bearer token or provider sign-in stands for; throws an ApiError.
  Id authorize(const httplib::Request& request);
  void document(const httplib::Request& request, httplib::Response& response);
  void profilePicture(const httplib::Request& request, httplib::Response& response);
  // Looks at the data directory until it is found gone, and tells that from then on.
  bool dirGone();

  // Checked before the store is opened in it.
  const PrivateDir dir_;
  Store store_;
  Catalog catalog_;
  ZedodoProvider zedodo_;
  FrontedServer http_;
  // "METHOD path" below the base path.
  std::map<std::string, const sample_api::Route*> api_;
  std::atomic<bool> gone_{false};
  mutable std::mutex goneMutex_;
  std::optional<std::string> whyGone_;
};
