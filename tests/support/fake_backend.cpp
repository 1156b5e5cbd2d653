#include "support/fake_backend.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

std::uint64_t fnv1a(std::uint64_t hash, const void* bytes, std::size_t length) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  for (std::size_t i = 0; i < length; ++i) hash = (hash ^ p[i]) * 1099511628211ull;
  return hash;
}

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
  for (const auto& [n, v] : headers)
    if (n.size() == name.size() && strncasecmp(n.data(), name.data(), n.size()) == 0) return v;
  return std::nullopt;
}

namespace {

// "scheme://127.0.0.1:PORT/" + path (a leading "/" of path is dropped).
std::string loopbackUrl(const char* scheme, int port, std::string_view path) {
  if (!path.empty() && path.front() == '/') path.remove_prefix(1);
  return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + "/" + std::string(path);
}

// Counts accepted connections: the server hands each accepted socket to its task queue once.
class CountingTaskQueue final : public httplib::TaskQueue {
 public:
  CountingTaskQueue(std::size_t threads, std::atomic<std::size_t>& counter) : pool_(threads), counter_(counter) {}
  void enqueue(std::function<void()> fn) override {
    ++counter_;
    pool_.enqueue(std::move(fn));
  }
  void shutdown() override { pool_.shutdown(); }

 private:
  httplib::ThreadPool pool_;
  std::atomic<std::size_t>& counter_;
};

int portOf(const sockaddr_storage& addr) {
  if (addr.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(addr).sin_port);
  if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(addr).sin6_port);
  return -1;
}

// The HTTP library owns the connections' descriptors and closes them in code ThreadSanitizer
// does not see. Everything done here to them, and the listing that finds them, goes by raw
// system calls: an intercepted call would tie the descriptor number to this code, and the
// sanitizer would report whoever opens that number next.
long rawSend(int fd, const std::string& bytes) {
  return ::syscall(SYS_sendto, fd, bytes.data(), bytes.size(), MSG_NOSIGNAL, nullptr, 0);
}
void rawShutdown(int fd) { (void)::syscall(SYS_shutdown, fd, SHUT_RDWR); }
// Disconnecting a TCP socket aborts the connection with a reset; the descriptor stays the
// server's to close.
void rawReset(int fd) {
  sockaddr unspecified{};
  unspecified.sa_family = AF_UNSPEC;
  (void)::syscall(SYS_connect, fd, &unspecified, sizeof unspecified);
}

// httplib does not hand the connection's socket to handlers; find the server side of the
// connections by their ports (remotePort 0 = every connection of the server).
std::vector<int> findConnectionSockets(int localPort, int remotePort) {
  std::vector<int> found;
  const int dir =
      static_cast<int>(::syscall(SYS_openat, AT_FDCWD, "/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir < 0) return found;
  alignas(8) char entries[4096];
  for (;;) {
    const long size = ::syscall(SYS_getdents64, dir, entries, sizeof entries);
    if (size <= 0) break;
    // Each entry: inode (8 bytes), offset (8), record length (2), type (1), then the name.
    for (long at = 0; at < size;) {
      unsigned short length = 0;
      std::memcpy(&length, entries + at + 16, sizeof length);
      const char* name = entries + at + 19;
      at += length;
      char* end = nullptr;
      const long fd = std::strtol(name, &end, 10);
      if (end == name || *end != '\0' || fd == dir) continue;
      sockaddr_storage local{}, peer{};
      socklen_t localLen = sizeof local, peerLen = sizeof peer;
      if (::syscall(SYS_getsockname, fd, &local, &localLen) != 0) continue;
      if (::syscall(SYS_getpeername, fd, &peer, &peerLen) != 0) continue;
      if (portOf(local) == localPort && (remotePort == 0 || portOf(peer) == remotePort))
        found.push_back(static_cast<int>(fd));
    }
  }
  (void)::syscall(SYS_close, dir);
  return found;
}

std::string deflated(const std::string& text) {
  uLongf size = compressBound(text.size());
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(text.data()), text.size(),
                Z_BEST_COMPRESSION) != Z_OK)
    std::abort();
  out.resize(size);
  return out;
}

struct Script {
  std::vector<ScriptedReply> replies;
  std::size_t next = 0;
};

// A request body as it streams in: always counted and hashed, kept only when asked. A chunk that
// continues a resumable upload carries the upload's hash on (one pass over the bytes either way).
struct BodySink {
  bool keep = true;
  bool continues = false;
  std::string bytes;
  std::uint64_t length = 0;
  std::uint64_t hash = kFNV1aOffset;
  void add(const char* data, std::size_t n) {
    length += n;
    hash = fnv1a(hash, data, n);
    if (keep) bytes.append(data, n);
  }
};

std::optional<std::string> headerIn(const std::vector<std::pair<std::string, std::string>>& headers,
                                    std::string_view name) {
  for (const auto& [n, v] : headers)
    if (n.size() == name.size() && strncasecmp(n.data(), name.data(), n.size()) == 0) return v;
  return std::nullopt;
}

// "bytes=first-[last]" or "bytes=-suffix" against a body of `length` bytes: the first and last
// byte, with first >= length when none of it exists; nothing for anything else (ignored).
std::optional<std::pair<std::size_t, std::size_t>> parseByteRange(const std::string& value, std::size_t length) {
  if (value.rfind("bytes=", 0) != 0 || value.find(',') != std::string::npos) return std::nullopt;
  const std::string spec = value.substr(6);
  const auto dash = spec.find('-');
  if (dash == std::string::npos) return std::nullopt;
  const std::string first = spec.substr(0, dash), last = spec.substr(dash + 1);
  auto number = [](const std::string& text) -> std::optional<std::size_t> {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    return std::strtoull(text.c_str(), nullptr, 10);
  };
  if (first.empty()) {
    const auto suffix = number(last);
    if (!suffix) return std::nullopt;
    if (*suffix == 0) return std::make_pair(length, length);
    return std::make_pair(length - std::min(*suffix, length), length - 1);
  }
  const auto from = number(first);
  const auto to = last.empty() ? std::optional<std::size_t>(SIZE_MAX) : number(last);
  if (!from || !to || *to < *from) return std::nullopt;
  return std::make_pair(*from, std::min(*to, length == 0 ? 0 : length - 1));
}

// Turns the full answer into the one a server with byte ranges gives `req`.
void answerRange(const httplib::Request& req, ScriptedReply& reply) {
  auto etag = headerIn(reply.headers, "ETag");
  if (!etag) {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx",
                  static_cast<unsigned long long>(fnv1a(kFNV1aOffset, reply.body.data(), reply.body.size())));
    etag = std::string("\"") + hex + "\"";
    reply.headers.emplace_back("ETag", *etag);
  }
  reply.headers.emplace_back("Accept-Ranges", "bytes");
  if (!req.has_header("Range") || reply.status != 200) return;
  if (req.has_header("If-Range")) {
    const auto condition = req.get_header_value("If-Range");
    if (condition != *etag && condition != headerIn(reply.headers, "Last-Modified")) return;
  }
  const std::size_t length = reply.body.size();
  const auto range = parseByteRange(req.get_header_value("Range"), length);
  if (!range) return;
  if (range->first >= length) {
    reply.status = 416;
    reply.headers.emplace_back("Content-Range", "bytes */" + std::to_string(length));
    reply.body.clear();
    return;
  }
  reply.status = 206;
  reply.headers.emplace_back("Content-Range", "bytes " + std::to_string(range->first) + "-" +
                                                  std::to_string(range->second) + "/" + std::to_string(length));
  reply.body = reply.body.substr(range->first, range->second - range->first + 1);
}

constexpr const char* kUploadCommand = "X-Zedodo-Upload-Command";
constexpr const char* kSessionMarker = "/session/";

}  // namespace

struct FakeBackend::Impl {
  std::unique_ptr<httplib::Server> server;
  std::thread thread;
  int port = 0;
  bool tls = false;
  std::atomic<std::size_t> connections{0};

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  bool stopping = false;
  std::vector<RecordedRequest> requests;
  std::map<std::pair<std::string, std::string>, Script> scripts;
  ScriptedReply defaultReply;
  bool keepBodies = true;
  // Resumable uploads: start path -> granularity; uploads by number; interruptions by command.
  std::map<std::string, std::int64_t> resumableRoutes;
  std::vector<ResumableUpload> uploads;
  std::map<std::string, std::vector<ScriptedReply>> interruptions;

  void start(std::unique_ptr<httplib::Server> s, bool secure) {
    server = std::move(s);
    tls = secure;
    server->set_tcp_nodelay(true);
    server->set_keep_alive_max_count(100000);
    server->set_keep_alive_timeout(5);
    server->new_task_queue = [this] { return new CountingTaskQueue(32, connections); };
    const std::string any = "(.*)";
    server->Get(any, [this](const httplib::Request& req, httplib::Response& res) { handle(req, res, {}, {}); });
    server->Options(any, [this](const httplib::Request& req, httplib::Response& res) { handle(req, res, {}, {}); });
    auto withBody = [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& read) {
      BodySink body;
      {
        std::lock_guard lock(mutex);
        body.keep = keepBodies;
        if (ResumableUpload* upload = uploadAt(req.path)) {
          const auto offset = std::strtoull(req.get_header_value("X-Zedodo-Upload-Offset").c_str(), nullptr, 10);
          if (offset == upload->receivedLength) {
            body.continues = true;
            body.hash = upload->receivedHash;
          }
        }
      }
      std::vector<RecordedPart> parts;
      // Without a length or chunked coding there is no body; reading would wait for the close.
      bool hasBody = req.has_header("Content-Length") || req.has_header("Transfer-Encoding");
      if (hasBody && req.is_multipart_form_data()) {
        read(
            [&](const httplib::MultipartFormData& file) {
              parts.push_back({file.name, file.filename, file.content_type, {}});
              return true;
            },
            [&](const char* data, std::size_t n) {
              if (!parts.empty()) parts.back().content.append(data, n);
              return true;
            });
      } else if (hasBody) {
        read([&](const char* data, std::size_t n) {
          body.add(data, n);
          return true;
        });
      }
      handle(req, res, std::move(body), std::move(parts));
    };
    server->Post(any, withBody);
    server->Put(any, withBody);
    server->Patch(any, withBody);
    server->Delete(any, withBody);
    port = server->bind_to_any_port("127.0.0.1");
    if (port <= 0) std::abort();
    thread = std::thread([this] { server->listen_after_bind(); });
    while (!server->is_running()) std::this_thread::yield();
  }

  void stop() {
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    changed.notify_all();
    // Idle keep-alive connections would hold the stop until they time out.
    for (int fd : findConnectionSockets(port, 0)) rawShutdown(fd);
    server->stop();
    if (thread.joinable()) thread.join();
  }

  ScriptedReply nextReply(const std::string& method, const std::string& path) {
    for (const auto& key : {std::make_pair(method, path), std::make_pair(std::string("*"), path)}) {
      auto it = scripts.find(key);
      if (it == scripts.end() || it->second.replies.empty()) continue;
      Script& s = it->second;
      ScriptedReply r = s.replies[std::min(s.next, s.replies.size() - 1)];
      if (s.next < s.replies.size()) ++s.next;
      return r;
    }
    return defaultReply;
  }

  // The upload a session path names; nullptr for any other path. The caller holds `mutex`.
  ResumableUpload* uploadAt(const std::string& path) {
    const auto at = path.rfind(kSessionMarker);
    if (at == std::string::npos || !resumableRoutes.count(path.substr(0, at))) return nullptr;
    const std::size_t number = std::strtoul(path.substr(at + std::strlen(kSessionMarker)).c_str(), nullptr, 10);
    return number >= 1 && number <= uploads.size() ? &uploads[number - 1] : nullptr;
  }

  // The resumable-upload protocol; false when the request is not for it. The caller holds `mutex`.
  bool answerResumableUpload(const RecordedRequest& rec, bool continues, ScriptedReply& reply) {
    const std::string command = rec.header(kUploadCommand).value_or("");
    const auto route = resumableRoutes.find(rec.path);
    const auto at = rec.path.rfind(kSessionMarker);
    const bool isSession = at != std::string::npos && resumableRoutes.count(rec.path.substr(0, at));
    if (command.empty() || (route == resumableRoutes.end() && !isSession)) return false;
    auto interrupted = interruptions.find(command);
    if (interrupted != interruptions.end() && !interrupted->second.empty()) {
      reply = interrupted->second.front();
      interrupted->second.erase(interrupted->second.begin());
      return true;
    }
    reply = ScriptedReply{};
    if (route != resumableRoutes.end()) {
      if (command != "start") return false;
      ResumableUpload upload;
      upload.declaredLength =
          std::strtoull(rec.header("X-Zedodo-Upload-Content-Length").value_or("0").c_str(), nullptr, 10);
      upload.contentType = rec.header("X-Zedodo-Upload-Content-Type").value_or("");
      upload.receivedHash = kFNV1aOffset;
      uploads.push_back(upload);
      reply.headers = {{"X-Zedodo-Upload-URL", loopbackUrl(tls ? "https" : "http", port,
                                                           rec.path + kSessionMarker + std::to_string(uploads.size()))},
                       {"X-Zedodo-Upload-Status", "active"}};
      if (route->second > 0)
        reply.headers.emplace_back("X-Zedodo-Upload-Chunk-Granularity", std::to_string(route->second));
      return true;
    }
    ResumableUpload* found = uploadAt(rec.path);
    if (!found || found->cancelled) {
      reply.status = 404;
      return true;
    }
    ResumableUpload& upload = *found;
    const auto status = [&] { return upload.finalized ? "final" : "active"; };
    if (command == "query") {
      reply.headers = {{"X-Zedodo-Upload-Size-Received", std::to_string(upload.receivedLength)},
                       {"X-Zedodo-Upload-Status", status()}};
    } else if (command == "cancel") {
      upload.cancelled = true;
      reply.headers = {{"X-Zedodo-Upload-Status", "cancelled"}};
    } else if (command == "upload" || command == "upload, finalize" || command == "finalize") {
      const std::uint64_t offset =
          std::strtoull(rec.header("X-Zedodo-Upload-Offset").value_or("").c_str(), nullptr, 10);
      if (upload.finalized || offset > upload.receivedLength || (offset < upload.receivedLength && !keepBodies)) {
        reply.status = 400;
        return true;
      }
      upload.received.resize(std::min<std::size_t>(upload.received.size(), offset));
      upload.received += rec.body;
      upload.receivedHash = continues && offset == upload.receivedLength
                                ? rec.bodyHash
                                : fnv1a(kFNV1aOffset, upload.received.data(), upload.received.size());
      upload.receivedLength = offset + rec.bodyLength;
      upload.finalized = command != "upload";
      reply.headers = {{"X-Zedodo-Upload-Status", status()}};
      if (upload.finalized) reply.body = "uploaded " + std::to_string(upload.receivedLength);
    } else {
      reply.status = 400;
    }
    return true;
  }

  void handle(const httplib::Request& req, httplib::Response& res, BodySink body, std::vector<RecordedPart> parts) {
    RecordedRequest rec;
    rec.method = req.method;
    rec.path = req.path;
    auto q = req.target.find('?');
    if (q != std::string::npos) rec.query = req.target.substr(q + 1);
    for (const auto& [name, value] : req.headers) {
      if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT") continue;
      rec.headers.emplace_back(name, value);
    }
    rec.body = req.body.empty() ? std::move(body.bytes) : req.body;
    rec.bodyLength = req.body.empty() ? body.length : req.body.size();
    rec.bodyHash = req.body.empty() ? body.hash : fnv1a(kFNV1aOffset, req.body.data(), req.body.size());
    rec.parts = std::move(parts);
    rec.remotePort = req.remote_port;

    ScriptedReply reply;
    {
      std::unique_lock lock(mutex);
      requests.push_back(rec);
      if (!answerResumableUpload(rec, body.continues, reply)) reply = nextReply(req.method, req.path);
      changed.notify_all();
      if (reply.delay > 0)
        changed.wait_for(lock, std::chrono::duration<double>(reply.delay), [this] { return stopping; });
    }

    // The server would answer a Range itself, with a slice under status 200.
    const_cast<httplib::Request&>(req).ranges.clear();
    if (reply.ranges) answerRange(req, reply);

    // Written by hand: the server would compress the body a second time.
    if (reply.deflate || reply.resetAfterBodyBytes || reply.stallAfterBodyBytes) {
      const std::string encoded = reply.deflate ? deflated(reply.body) : reply.body;
      std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " Scripted\r\nConnection: close\r\n" +
                         "Content-Type: " + reply.contentType +
                         "\r\nContent-Length: " + std::to_string(encoded.size()) +
                         (reply.deflate ? "\r\nContent-Encoding: deflate\r\n" : "\r\n");
      for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
      const std::size_t sent =
          std::min(reply.resetAfterBodyBytes.value_or(encoded.size()), reply.stallAfterBodyBytes.value_or(SIZE_MAX));
      reply.garbage = head + "\r\n" + encoded.substr(0, sent);
    }
    if (reply.garbage || reply.closeConnection) {
      for (int fd : findConnectionSockets(port, req.remote_port)) {
        if (reply.garbage) (void)rawSend(fd, *reply.garbage);
        if (reply.stallAfterBodyBytes) {
          std::unique_lock lock(mutex);
          changed.wait(lock, [this] { return stopping; });
        }
        if (reply.resetAfterBodyBytes) {
          rawReset(fd);
        } else {
          rawShutdown(fd);
        }
      }
      return;
    }
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers) res.headers.emplace(name, value);
    res.set_content(reply.body, reply.contentType.c_str());
  }
};

FakeBackend::FakeBackend() : impl_(std::make_unique<Impl>()) {
  impl_->start(std::make_unique<httplib::Server>(), false);
}

FakeBackend::FakeBackend(const TLS& tls) : impl_(std::make_unique<Impl>()) {
  auto server = std::make_unique<httplib::SSLServer>(tls.certificatePath.c_str(), tls.privateKeyPath.c_str());
  if (!server->is_valid()) std::abort();
  impl_->start(std::move(server), true);
}

FakeBackend::~FakeBackend() { impl_->stop(); }

int FakeBackend::port() const { return impl_->port; }

std::string FakeBackend::baseUrl() const { return url(""); }

std::string FakeBackend::url(std::string_view path) const {
  return loopbackUrl(impl_->tls ? "https" : "http", impl_->port, path);
}

void FakeBackend::reply(std::string method, std::string path, ScriptedReply reply) {
  replies(std::move(method), std::move(path), {std::move(reply)});
}

void FakeBackend::replies(std::string method, std::string path, std::vector<ScriptedReply> replies) {
  std::lock_guard lock(impl_->mutex);
  impl_->scripts[{std::move(method), std::move(path)}] = Script{std::move(replies), 0};
}

void FakeBackend::serveResumableUpload(std::string path, std::int64_t granularity) {
  std::lock_guard lock(impl_->mutex);
  impl_->resumableRoutes[std::move(path)] = granularity;
}

void FakeBackend::interruptResumableUpload(std::string command, std::vector<ScriptedReply> replies) {
  std::lock_guard lock(impl_->mutex);
  auto& queue = impl_->interruptions[std::move(command)];
  queue.insert(queue.end(), replies.begin(), replies.end());
}

std::vector<ResumableUpload> FakeBackend::resumableUploads() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->uploads;
}

void FakeBackend::setKeepsBodies(bool keep) {
  std::lock_guard lock(impl_->mutex);
  impl_->keepBodies = keep;
}

std::vector<RecordedRequest> FakeBackend::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

std::size_t FakeBackend::requestCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests.size();
}

std::optional<RecordedRequest> FakeBackend::lastRequest() const {
  std::lock_guard lock(impl_->mutex);
  if (impl_->requests.empty()) return std::nullopt;
  return impl_->requests.back();
}

std::size_t FakeBackend::connectionCount() const { return impl_->connections.load(); }

bool FakeBackend::waitForRequestCount(std::size_t count, double timeoutSeconds) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                                 [&] { return impl_->requests.size() >= count; });
}

void FakeBackend::clearRequests() {
  std::lock_guard lock(impl_->mutex);
  impl_->requests.clear();
}

LoopbackSocket bindLoopback(std::optional<int> backlog) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0 ||
      (backlog && ::listen(fd, *backlog) != 0) || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    if (fd >= 0) ::close(fd);
    return {};
  }
  return {fd, ntohs(addr.sin_port)};
}

LoopbackListener::LoopbackListener(int backlog) : socket_(bindLoopback(backlog)) {
  if (socket_.fd < 0) ADD_FAILURE() << "no loopback port";
}

LoopbackListener::~LoopbackListener() {
  if (socket_.fd >= 0) ::close(socket_.fd);
}

std::string LoopbackListener::url(std::string_view path) const { return loopbackUrl("http", socket_.port, path); }

FakeBackend::ClosedPort::ClosedPort() {
  const auto socket = bindLoopback(std::nullopt);
  if (socket.fd < 0) std::abort();
  fd_ = socket.fd;
  port_ = socket.port;
}

FakeBackend::ClosedPort::~ClosedPort() { ::close(fd_); }

std::string FakeBackend::ClosedPort::url(std::string_view path) const { return loopbackUrl("http", port_, path); }
