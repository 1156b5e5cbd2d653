#include "platform/frameworks/image_loading.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/net/url_error.h"
#include "platform/net/url_session.h"
#include "support/fake_backend.h"
#include "support/virtual_time.h"

namespace {

// The start of a PNG file: enough for the size to be read.
std::string pngBytes(std::uint32_t width, std::uint32_t height) {
  std::string bytes("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  for (std::uint32_t v : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>((v >> shift) & 0xFF);
  }
  bytes += std::string("\x08\x06\0\0\0", 5);
  return bytes;
}

// A loopback host that takes every connection and reads its requests, but answers only those
// whose path starts with `answered`; the others hang until the server goes.
class StallingHost {
 public:
  explicit StallingHost(std::string answered = "/api/") : answered_(std::move(answered)) {
    thread_ = std::thread([this] { serve(); });
  }
  ~StallingHost() {
    stopping_ = true;
    thread_.join();
    for (const auto& connection : connections_) ::close(connection.fd);
  }
  std::string url(const std::string& path) const { return listener_.url(path); }
  int connections() const { return accepted_.load(); }

 private:
  struct Connection {
    int fd;
    std::string read;
  };
  void serve() {
    while (!stopping_) {
      std::vector<pollfd> fds{{listener_.fd(), POLLIN, 0}};
      for (const auto& connection : connections_) fds.push_back({connection.fd, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
      if (fds[0].revents & POLLIN) {
        const int fd = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) connections_.push_back({fd, {}}), ++accepted_;
      }
      for (std::size_t i = 1; i < fds.size(); ++i) {
        if (fds[i].revents & (POLLIN | POLLHUP)) readFrom(connections_[i - 1]);
      }
    }
  }
  void readFrom(Connection& connection) {
    char buffer[4096];
    const ssize_t n = ::read(connection.fd, buffer, sizeof buffer);
    if (n <= 0) return;
    connection.read.append(buffer, static_cast<std::size_t>(n));
    for (auto end = connection.read.find("\r\n\r\n"); end != std::string::npos;
         end = connection.read.find("\r\n\r\n")) {
      const auto path = connection.read.substr(connection.read.find(' ') + 1);
      if (path.starts_with(answered_)) {
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok";
        if (::write(connection.fd, answer.data(), answer.size()) < 0) ADD_FAILURE() << "write";
      }
      connection.read.erase(0, end + 4);
    }
  }

  std::string answered_;
  LoopbackListener listener_{4096};
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  std::vector<Connection> connections_;  // server thread only, until it is joined
  std::thread thread_;
};

// Hosts 127.0.K.J (K from 1) on one port, listening in a child process (its descriptors are not
// the test's) that never accepts: their connections wait in its backlogs, never answered.
class HungHosts {
 public:
  explicit HungHosts(int count) {
    int ready[2], hold[2];
    if (::pipe(ready) != 0 || ::pipe(hold) != 0 || (child_ = ::fork()) < 0) return;
    if (child_ == 0) {
      ::close(hold[1]);
      rlimit limit{};
      ::getrlimit(RLIMIT_NOFILE, &limit);
      limit.rlim_cur = limit.rlim_max;
      ::setrlimit(RLIMIT_NOFILE, &limit);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      for (int i = 0; i < count && (i == 0 || addr.sin_port != 0); ++i) {
        addr.sin_addr.s_addr = htonl(address(i));
        socklen_t length = sizeof addr;
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0 || ::listen(fd, 8) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
          addr.sin_port = 0;
      }
      const int port = ntohs(addr.sin_port);
      char done;
      if (::write(ready[1], &port, sizeof port) == sizeof port) {
        while (::read(hold[0], &done, 1) > 0) continue;  // until the parent closes its end
      }
      ::_exit(0);
    }
    hold_ = hold[1];
    for (int fd : {ready[1], hold[0]}) ::close(fd);
    if (::read(ready[0], &port_, sizeof port_) != sizeof port_) port_ = 0;
    ::close(ready[0]);
  }
  ~HungHosts() {
    ::close(hold_);
    if (child_ > 0) ::waitpid(child_, nullptr, 0);
  }
  bool ready() const { return port_ > 0; }
  std::string url(int i) const {
    in_addr addr{htonl(address(i))};
    return "http://" + std::string(::inet_ntoa(addr)) + ":" + std::to_string(port_) + "/picture.png";
  }

 private:
  static std::uint32_t address(int i) {
    return 0x7F000000u | static_cast<std::uint32_t>((1 + i / 250) << 8 | (1 + i % 250));
  }
  pid_t child_ = -1;
  int hold_ = -1;
  int port_ = 0;
};

long openDescriptors() {
  const auto fds = std::filesystem::directory_iterator("/proc/self/fd");
  return std::distance(begin(fds), end(fds));
}

class ImageLoadingTest : public ::testing::Test {
 protected:
  void SetUp() override { ImageCache::shared().removeAll(); }
  void TearDown() override { ImageCache::shared().removeAll(); }
  URL url(const std::string& path) { return *URL::URLWithString(server_.url(path)); }

  VirtualTime time_;
  FakeBackend server_;
};

TEST_F(ImageLoadingTest, AFetchedPictureFillsTheViewAndComesFromTheCacheNextTime) {
  server_.reply("GET", "/pic.png", {.body = pngBytes(40, 30), .contentType = "image/png"});
  auto view = UIImageView::make();
  hnk_setImageFromURL(*view, url("pic.png"));
  EXPECT_EQ(view->image(), nullptr) << "nothing before the answer, and no placeholder";
  ASSERT_TRUE(time_.runUntil([&] { return view->image() != nullptr; }));
  EXPECT_EQ(view->image()->size().width, 40);

  auto other = UIImageView::make();
  hnk_setImageFromURL(*other, url("pic.png"));
  EXPECT_EQ(std::pair(other->image(), server_.requestCount()), std::pair(view->image(), std::size_t{1}))
      << "set at once from the cache";

  // With a success handler the handler gets the picture, not the view.
  auto third = UIImageView::make();
  std::shared_ptr<UIImage> handed;
  hnk_setImageFromURL(*third, url("pic.png"), nullptr, std::nullopt, {},
                      [&](const std::shared_ptr<UIImage>& i) { handed = i; });
  EXPECT_EQ(std::pair(handed, third->image()), std::pair(view->image(), std::shared_ptr<UIImage>()));
}

TEST_F(ImageLoadingTest, FailuresLeaveTheViewAloneAndOnlyTheLatestRequestOfAViewCounts) {
  server_.reply("GET", "/missing.png", {.status = 404, .body = pngBytes(1, 1)});
  server_.reply("GET", "/garbage.png", {.body = "not a picture"});
  server_.reply("GET", "/slow.png", {.body = pngBytes(5, 5), .delay = 0.3});
  server_.reply("GET", "/fast.png", {.body = pngBytes(7, 7)});
  auto placeholder = UIImage::make(CGSize{1, 1});

  auto view = UIImageView::make();
  std::vector<long> failures;
  auto onFailure = [&](const std::optional<NSError>& e) { failures.push_back(e ? e->code : 0); };
  hnk_setImageFromURL(*view, url("missing.png"), placeholder, std::nullopt, onFailure);
  EXPECT_EQ(view->image(), placeholder);
  ASSERT_TRUE(time_.runUntil([&] { return failures.size() == 1; }));
  hnk_setImageFromURL(*view, url("garbage.png"), nullptr, std::nullopt, onFailure);
  ASSERT_TRUE(time_.runUntil([&] { return failures.size() == 2; }));
  EXPECT_EQ(failures, (std::vector<long>{ImageLoadingErrorStatusCodeNotOK, ImageLoadingErrorInvalidData}));
  EXPECT_EQ(view->image(), placeholder);
  EXPECT_EQ(ImageCache::shared().count(), 0u);

  // A reused view asks for another picture before the first arrives: the first one never shows.
  hnk_setImageFromURL(*view, url("slow.png"));
  hnk_setImageFromURL(*view, url("fast.png"));
  ASSERT_TRUE(time_.runUntil([&] { return view->image() != placeholder; }));
  EXPECT_EQ(view->image()->size().width, 7);
  // The first request was cancelled, or its late answer is dropped.
  time_.runUntil([] { return false; }, 0.5);
  EXPECT_EQ(view->image()->size().width, 7);

  // A view that is gone when its answer comes is no trouble.
  auto doomed = UIImageView::make();
  hnk_setImageFromURL(*doomed, url("slow.png?again"));
  doomed.reset();
  time_.runUntil([] { return false; }, 0.5);
}

TEST_F(ImageLoadingTest, AViewAskedAgainForThePictureItLoadsKeepsItsDownloadForTheLatestHandlers) {
  server_.reply("GET", "/slow.png", {.body = pngBytes(5, 5), .delay = 0.2});
  server_.reply("GET", "/gone.png", {.status = 404, .delay = 0.2});
  auto view = UIImageView::make();
  std::vector<std::string> calls;
  auto handlers = [&](const std::string& name) {
    return std::pair(ImageFailureHandler([&calls, name](const std::optional<NSError>&) { calls.push_back(name); }),
                     ImageSuccessHandler([&calls, name](const std::shared_ptr<UIImage>&) { calls.push_back(name); }));
  };
  for (const char* name : {"first", "second", "third"}) {
    auto [failure, success] = handlers(name);
    hnk_setImageFromURL(*view, url("slow.png"), nullptr, std::nullopt, failure, success);
  }
  ASSERT_TRUE(time_.runUntil([&] { return !calls.empty(); }));
  time_.runUntilIdle();
  EXPECT_EQ(calls, std::vector<std::string>{"third"});
  EXPECT_EQ(server_.requestCount(), 1u);

  // The same for a failure.
  calls.clear();
  auto [failure, success] = handlers("gone");
  hnk_setImageFromURL(*view, url("gone.png"));
  hnk_setImageFromURL(*view, url("gone.png"), nullptr, std::nullopt, failure, success);
  ASSERT_TRUE(time_.runUntil([&] { return !calls.empty(); }));
  time_.runUntilIdle();
  EXPECT_EQ(calls, std::vector<std::string>{"gone"});
  EXPECT_EQ(server_.requestCount(), 2u);
}

TEST_F(ImageLoadingTest, AnAddressGivenAsTextActsAsItsURLWouldOnTheViewAndInTheCache) {
  server_.reply("GET", "/row.png", {.body = pngBytes(9, 9), .delay = 0.2});
  auto view = UIImageView::make();
  bool handed = false;
  hnk_setImageFromURL(*view, url("row.png"), nullptr, std::nullopt, {},
                      [&](const std::shared_ptr<UIImage>&) { handed = true; });
  // Asked again while loading: same download, and the latest call (no handler) fills the view.
  EXPECT_TRUE(hnk_setImageFromURLString(*view, server_.url("row.png")));
  EXPECT_TRUE(hnk_setImageFromURLString(*view, server_.url("row.png")));
  ASSERT_TRUE(time_.runUntil([&] { return view->image() != nullptr; }));
  EXPECT_FALSE(handed);

  auto other = UIImageView::make();
  EXPECT_TRUE(hnk_setImageFromURLString(*other, server_.url("row.png")));
  EXPECT_EQ(std::pair(other->image(), server_.requestCount()), std::pair(view->image(), std::size_t{1}));

  // Text that is no URL: nothing set, and the earlier request of the view no longer reaches it.
  auto third = UIImageView::make();
  hnk_setImageFromURL(*third, url("row.png?late"));
  EXPECT_FALSE(hnk_setImageFromURLString(*third, "no url at all"));
  time_.runUntil([] { return false; }, 0.5);
  EXPECT_EQ(third->image(), nullptr);
}

TEST_F(ImageLoadingTest, AGridOfPicturesDownloadsAFewAtATimeAndSkipsTheOnesNoLongerWanted) {
  server_.reply("GET", "/pic.png", {.body = pngBytes(3, 3), .delay = 0.05});
  std::vector<std::shared_ptr<UIImageView>> views;
  for (int i = 0; i < 20; ++i) {
    views.push_back(UIImageView::make());
    hnk_setImageFromURL(*views.back(), url("pic.png?n=" + std::to_string(i)));
  }
  // The last ones are still waiting their turn: they never go out.
  for (int i = 15; i < 20; ++i) hnk_cancelSetImage(*views[static_cast<std::size_t>(i)]);
  hnk_setImageFromURL(*views[14], url("pic.png?n=again"));
  EXPECT_GT(URLSession::transfersInFlight(), 0u);
  ASSERT_TRUE(time_.runUntil([&] { return URLSession::transfersInFlight() == 0; }));
  std::vector<std::string> asked;
  for (const auto& request : server_.requests()) asked.push_back(request.query);
  std::vector<std::string> expected;
  for (int i = 0; i < 14; ++i) expected.push_back("n=" + std::to_string(i));
  expected.push_back("n=again");
  std::sort(asked.begin(), asked.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(asked, expected) << "each once";
  for (int i = 0; i < 15; ++i) EXPECT_NE(views[static_cast<std::size_t>(i)]->image(), nullptr) << i;
  EXPECT_EQ(views[15]->image(), nullptr);
}

TEST_F(ImageLoadingTest, AddressesGivenAsTextWaitTheirTurnAndGoOutAsWritten) {
  server_.reply("GET", "/pic.png", {.body = pngBytes(3, 3), .delay = 0.05});
  server_.reply("GET", "/gone.png", {.status = 404});
  std::vector<std::shared_ptr<UIImageView>> views;
  for (int i = 0; i < 20; ++i) {
    views.push_back(UIImageView::make());
    EXPECT_TRUE(hnk_setImageFromURLString(*views.back(), server_.url("pic.png?n=" + std::to_string(i))));
  }
  // The last one still waits: a call with handlers joins its download.
  std::shared_ptr<UIImage> handed;
  hnk_setImageFromURL(*views[19], url("pic.png?n=19"), nullptr, std::nullopt, {},
                      [&](const std::shared_ptr<UIImage>& image) { handed = image; });
  auto missing = UIImageView::make();
  EXPECT_TRUE(hnk_setImageFromURLString(*missing, server_.url("gone.png")));
  std::optional<long> failure;
  hnk_setImageFromURL(*missing, url("gone.png"), nullptr, std::nullopt,
                      [&](const std::optional<NSError>& e) { failure = e ? e->code : 0; });
  ASSERT_TRUE(time_.runUntil([&] { return URLSession::transfersInFlight() == 0; }));
  std::vector<std::string> asked;
  for (const auto& request : server_.requests()) asked.push_back(request.path + "?" + request.query);
  std::vector<std::string> expected{"/gone.png?"};
  for (int i = 0; i < 20; ++i) expected.push_back("/pic.png?n=" + std::to_string(i));
  std::sort(asked.begin(), asked.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(asked, expected);
  for (int i = 0; i < 19; ++i) EXPECT_NE(views[static_cast<std::size_t>(i)]->image(), nullptr) << i;
  EXPECT_EQ(std::pair(views[19]->image(), handed != nullptr), std::pair(std::shared_ptr<UIImage>(), true));
  EXPECT_EQ(failure, ImageLoadingErrorStatusCodeNotOK);
}

TEST_F(ImageLoadingTest, APictureBodyPastTheCapFailsWithoutFillingTheMemory) {
  server_.reply("GET", "/huge.png", {.body = pngBytes(1, 1) + std::string(17 * 1024 * 1024, '\0'), .deflate = true});
  auto view = UIImageView::make();
  std::optional<long> failure;
  hnk_setImageFromURL(*view, url("huge.png"), nullptr, std::nullopt,
                      [&](const std::optional<NSError>& e) { failure = e ? e->code : 0; });
  ASSERT_TRUE(time_.runUntil([&] { return failure.has_value(); }, 20));
  EXPECT_EQ(*failure, NSURLErrorDataLengthExceedsMaximum);
  EXPECT_EQ(view->image(), nullptr);
}

// Pictures whose host never answers (directly, or at the end of a redirect) hold back no picture
// of another host, no picture of the redirecting host itself, and no backend call to their host.
class StalledPicturesTest : public ImageLoadingTest {
 protected:
  std::shared_ptr<UIImageView> load(const std::string& address) {
    views_.push_back(UIImageView::make());
    hnk_setImageFromURL(*views_.back(), *URL::URLWithString(address));
    return views_.back();
  }
  // Measured from the call: the time for `view` to show its picture, at most `bound` seconds.
  double secondsToPicture(const std::shared_ptr<UIImageView>& view, double bound = 1.0) {
    const auto start = std::chrono::steady_clock::now();
    time_.runUntil([&] { return view->image() != nullptr; }, bound);
    return view->image() ? std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() : bound;
  }
  void TearDown() override {
    for (const auto& view : views_) hnk_cancelSetImage(*view);
    EXPECT_TRUE(time_.runUntil([] { return URLSession::transfersInFlight() == 0; }, 10));
    ImageLoadingTest::TearDown();
  }
  StallingHost stalled_;
  std::vector<std::shared_ptr<UIImageView>> views_;
};

TEST_F(StalledPicturesTest, SixteenHungPicturesHoldBackNoPictureOfAnotherHost) {
  server_.reply("GET", "/pic.png", {.body = pngBytes(4, 4)});
  for (int i = 0; i < 16; ++i) load(stalled_.url("hung-" + std::to_string(i) + ".png"));
  ASSERT_TRUE(time_.runUntil([&] { return stalled_.connections() > 0; }));
  EXPECT_LT(secondsToPicture(load(server_.url("pic.png"))), 1.0);
}

// A full share on each of thirty dead hosts still leaves the session connections for a live one.
TEST_F(StalledPicturesTest, SixPicturesOnEachOfThirtyHungHostsHoldBackNoPictureOfALiveHost) {
  HungHosts hosts(30);
  ASSERT_TRUE(hosts.ready());
  server_.reply("GET", "/pic.png", {.body = pngBytes(4, 4)});
  for (int i = 0; i < 30; ++i)
    for (int n = 0; n < 6; ++n) load(hosts.url(i) + "?n=" + std::to_string(n));
  std::vector<std::shared_ptr<UIImageView>> live;
  for (int n = 0; n < 3; ++n) live.push_back(load(server_.url("pic.png?n=" + std::to_string(n))));
  const auto start = std::chrono::steady_clock::now();
  auto shown = [](const auto& view) { return view->image() != nullptr; };
  time_.runUntil([&] { return std::all_of(live.begin(), live.end(), shown); }, 1.0);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
  EXPECT_EQ(server_.requestCount(), 3u);
}

TEST_F(StalledPicturesTest, RedirectsToAHungHostCountForItNotForTheHostThatRedirected) {
  server_.reply("GET", "/moved.png", {.status = 302, .headers = {{"Location", stalled_.url("hung.png")}}});
  server_.reply("GET", "/own.png", {.body = pngBytes(4, 4)});
  for (int i = 0; i < 16; ++i) load(server_.url("moved.png?n=" + std::to_string(i)));
  ASSERT_TRUE(time_.runUntil([&] { return server_.requestCount() == 16; }));
  EXPECT_LT(secondsToPicture(load(server_.url("own.png"))), 1.0);
  EXPECT_LE(stalled_.connections(), 6) << "the hung host's own share, however many redirect there";
}

TEST_F(StalledPicturesTest, ABackendCallToAHostWithAThousandPicturesWaitingStartsAtOnce) {
  for (int i = 0; i < 1000; ++i) load(stalled_.url("Media/" + std::to_string(i) + ".png"));
  ASSERT_TRUE(time_.runUntil([&] { return stalled_.connections() > 0; }));
  auto backend = URLSession::sessionWithConfiguration(URLSessionConfiguration::ephemeralSessionConfiguration(), nullptr,
                                                      DispatchQueue::main());
  std::optional<int> status;
  backend
      ->dataTaskWithRequest(
          URLRequest(*URL::URLWithString(stalled_.url("api/Tablet/GetNews"))),
          [&](std::optional<Data>, std::shared_ptr<const URLResponse> response, std::optional<NSError>) {
            auto* http = dynamic_cast<const HTTPURLResponse*>(response.get());
            status = http ? http->statusCode() : 0;
          })
      ->resume();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(time_.runUntil([&] { return status.has_value(); }, 1.0));
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
  EXPECT_EQ(*status, 200);
}

TEST_F(StalledPicturesTest, APictureWhoseTimeoutRanOutWhileItWaitedItsTurnFailsUnsent) {
  server_.reply("GET", "/slow.png", {.body = pngBytes(4, 4), .delay = 0.3});
  for (int i = 0; i < 6; ++i) load(server_.url("slow.png?n=" + std::to_string(i)));
  std::optional<NSError> failed;
  views_.push_back(UIImageView::make());
  hnk_setImageFromURL(*views_.back(), url("late.png"), nullptr, std::nullopt,
                      [&](const std::optional<NSError>& error) { failed = error.value_or(NSError("none", 0)); });
  time_.advance(61);  // while the six hold the host's connections
  ASSERT_TRUE(time_.runUntil([&] { return failed.has_value(); }));
  EXPECT_EQ(failed->code, NSURLErrorTimedOut);
  EXPECT_EQ(server_.requestCount(), 6u);
}

TEST_F(StalledPicturesTest, PicturesFromHungHostsByTheThousandHoldFewDescriptorsAndNoBackendCall) {
  HungHosts hosts(1500);
  ASSERT_TRUE(hosts.ready());
  server_.reply("GET", "/api/Tablet/GetNews", {.body = "[]"});
  const long before = openDescriptors();
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  const rlimit low{1024, limit.rlim_max};
  ::setrlimit(RLIMIT_NOFILE, &low);
  for (int i = 0; i < 1500; ++i) load(hosts.url(i));
  auto backend = URLSession::sessionWithConfiguration(URLSessionConfiguration::ephemeralSessionConfiguration(), nullptr,
                                                      DispatchQueue::main());
  std::optional<long> error;
  const auto start = std::chrono::steady_clock::now();
  backend
      ->dataTaskWithRequest(URLRequest(*URL::URLWithString(server_.url("api/Tablet/GetNews"))),
                            [&](std::optional<Data>, std::shared_ptr<const URLResponse>, std::optional<NSError> e) {
                              error = e ? e->code : 0;
                            })
      ->resume();
  time_.runUntil([&] { return error.has_value(); }, 2.0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long held = openDescriptors() - before;
  ::setrlimit(RLIMIT_NOFILE, &limit);
  EXPECT_EQ(error.value_or(-1), 0);
  EXPECT_LT(seconds, 1.0);
  EXPECT_LE(held, 300);
}

TEST_F(ImageLoadingTest, LocalImagesAreMadeOnceUnderTheirKey) {
  int made = 0;
  auto image = UIImage::make(CGSize{2, 2});
  auto fetch = [&] { return ++made, image; };
  for (int i = 0; i < 2; ++i) {
    auto view = UIImageView::make();
    hnk_setImage(*view, fetch, "placeholder");
    EXPECT_EQ(view->image(), image);
  }
  EXPECT_EQ(made, 1);
}

TEST(ImageCacheTest, TheLeastRecentlyUsedImagesGoFirst) {
  ImageCache cache(3 * 1024);
  auto one = UIImage::make(), four = UIImage::make();
  cache.setImage(one, "1");
  cache.setImage(UIImage::make(), "2");
  cache.setImage(UIImage::make(), "3");
  EXPECT_EQ(cache.image("1"), one);  // now the most recent
  cache.setImage(four, "4");
  EXPECT_EQ(std::tuple(cache.image("2"), cache.image("1"), cache.image("4"), cache.image("4", "thumbnail")),
            std::tuple(nullptr, one, four, nullptr));
  EXPECT_EQ(cache.count(), 3u);

  // Set again under its key: one entry, the new image, and it goes when its turn comes.
  auto again = UIImage::make();
  cache.setImage(again, "1");
  EXPECT_EQ(std::pair(cache.image("1"), cache.count()), std::pair(again, std::size_t{3}));
  for (const char* key : {"5", "6", "7"}) cache.setImage(UIImage::make(), key);
  EXPECT_EQ(std::tuple(cache.image("1"), cache.image("4"), cache.count()),
            std::tuple(nullptr, nullptr, std::size_t{3}));
  EXPECT_NE(cache.image("7"), nullptr);
}

TEST(ImageCacheTest, FormatsOfOneKeyAreEntriesOfTheirOwnInOneUseOrder) {
  ImageCache cache(2 * 1024);
  auto plain = UIImage::make(), thumb = UIImage::make();
  cache.setImage(plain, "a");
  cache.setImage(thumb, "a", "thumbnail");
  EXPECT_EQ(cache.image("a"), plain);
  EXPECT_EQ(std::pair(cache.image("a", "thumbnail"), cache.count()), std::pair(thumb, std::size_t{2}));
  // The plain one was used last but one: it goes, the thumbnail stays.
  cache.setImage(UIImage::make(), "b", "thumbnail");
  EXPECT_EQ(std::tuple(cache.image("a"), cache.image("a", "thumbnail"), cache.count()),
            std::tuple(nullptr, thumb, std::size_t{2}));
  // One entry stays even past the capacity; emptied, the cache fills again.
  ImageCache small(1);
  small.setImage(plain, "a");
  small.setImage(thumb, "b");
  EXPECT_EQ(std::tuple(small.image("a"), small.image("b"), small.count()), std::tuple(nullptr, thumb, std::size_t{1}));
  small.removeAll();
  small.setImage(plain, "a");
  EXPECT_EQ(std::pair(small.image("a"), small.count()), std::pair(plain, std::size_t{1}));
}

// Thousands of keys through a small cache, against a plain list in use order: each image goes
// exactly when the bytes of the newer ones pass the capacity, whatever its chain or format.
TEST(ImageCacheTest, EvictionFollowsTheUseOrderAndTheBytesAcrossGrowth) {
  constexpr std::size_t kCapacity = 40 * 1024;
  ImageCache cache(kCapacity);
  std::vector<std::tuple<std::string, std::string, std::shared_ptr<UIImage>>> model;  // newest first
  auto costOf = [](const std::shared_ptr<UIImage>& image) {
    return std::max<std::size_t>(image->data() ? image->data()->size() : 0, 1024);
  };
  std::uint32_t seed = 7;
  auto next = [&seed](std::uint32_t bound) { return (seed = seed * 1103515245u + 12345u) / 65536u % bound; };
  for (int step = 0; step < 6000; ++step) {
    // Keys that share prefixes, differ only in their format, or hold a zero byte.
    std::string key = "http://127.0.0.1/p/" + std::to_string(next(60)) + std::string(next(2), '\0');
    const std::string format = next(4) == 0 ? "thumbnail" : "original";
    auto found = std::find_if(model.begin(), model.end(),
                              [&](const auto& e) { return std::get<0>(e) == key && std::get<1>(e) == format; });
    if (next(3) == 0) {
      EXPECT_EQ(cache.image(key, format), found == model.end() ? nullptr : std::get<2>(*found)) << step;
      if (found != model.end()) std::rotate(model.begin(), found, found + 1);
      continue;
    }
    auto image =
        next(2) ? UIImage::make()
                : UIImage::imageWithData(Data::fromString(pngBytes(next(9) + 1, 1) + std::string(next(4000), 'x')));
    if (found != model.end()) model.erase(found);
    model.emplace(model.begin(), key, format, image);
    cache.setImage(image, key, format);
    std::size_t total = 0, kept = 0;
    while (kept < model.size() && (kept == 0 || total + costOf(std::get<2>(model[kept])) <= kCapacity))
      total += costOf(std::get<2>(model[kept++]));
    model.resize(kept);
    ASSERT_EQ(cache.count(), model.size()) << step;
  }
  for (const auto& [key, format, image] : model) EXPECT_EQ(cache.image(key, format), image);
  cache.setImage(UIImage::make(), "");
  EXPECT_NE(cache.image(""), nullptr);
  EXPECT_EQ(cache.image("", "thumbnail"), nullptr);
}

// The bytes an image was made from are what it costs, and what is sent when it is saved again.
TEST(ImageCacheTest, APictureCostsItsBytesAndKeepsThemWhole) {
  const Data png = Data::fromString(pngBytes(4, 4) + std::string(3000, 'x'));
  auto picture = UIImage::imageWithData(png);
  ImageCache cache(4 * 1024);
  cache.setImage(picture, "picture");
  cache.setImage(UIImage::make(), "small");
  EXPECT_EQ(cache.count(), 2u);
  cache.setImage(UIImage::make(), "small too");  // 3029 + 1024 + 1024 bytes pass 4 KB: the picture goes
  EXPECT_EQ(std::pair(cache.image("picture"), cache.count()), std::pair(std::shared_ptr<UIImage>(), std::size_t{2}));
  EXPECT_EQ(UIImagePNGRepresentation(picture), png);
  auto templated = picture->imageWithRenderingMode(UIImage::RenderingMode::AlwaysTemplate);
  EXPECT_EQ(std::tuple(UIImagePNGRepresentation(templated), templated->format(), templated->name()),
            std::tuple(std::optional(png), UIImage::Format::PNG, std::optional<std::string>()));
}

}  // namespace
