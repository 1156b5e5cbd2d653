#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A scripted HTTP server on 127.0.0.1 (an ephemeral port) for network tests. It records every
// request and answers each with the reply scripted for its method and path, else the default
// reply (200, empty body). Thread-safe.

struct RecordedPart {
  std::string name;
  std::string filename;
  std::string contentType;
  std::string content;
};

struct RecordedRequest {
  std::string method;
  std::string path;   // percent-decoded, without the query
  std::string query;  // the raw query text, without "?"
  std::vector<std::pair<std::string, std::string>> headers;
  // The bytes received. multipart/form-data bodies are taken apart into `parts` instead (in
  // order) and leave this empty.
  std::string body;
  std::vector<RecordedPart> parts;
  // Bytes of a body that was not taken apart, and their FNV-1a 64 hash: what a server that keeps
  // no bodies (setKeepsBodies(false)) still knows of them. The hash of a chunk that continues a
  // resumable upload goes on from the upload's bytes before it.
  std::uint64_t bodyLength = 0;
  std::uint64_t bodyHash = 0;
  int remotePort = 0;  // the client's port: equal ports mean the same connection

  std::optional<std::string> header(std::string_view name) const;  // first match, any case
  bool hasHeader(std::string_view name) const { return header(name).has_value(); }
};

struct ScriptedReply {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers{};
  std::string body{};
  std::string contentType = "text/plain";
  // Real seconds to wait before answering (cut short when the server stops).
  double delay = 0;
  // Written raw instead of an HTTP answer, then the connection is closed.
  std::optional<std::string> garbage{};
  // Close the connection without answering.
  bool closeConnection = false;
  // Plain HTTP only, on a connection closed after the answer: the body goes out compressed, with
  // "Content-Encoding: deflate"; the connection is reset after this many bytes of it.
  bool deflate = false;
  std::optional<std::size_t> resetAfterBodyBytes{};
  // Plain HTTP: after this many bytes of the body the answer stalls, the connection held open
  // until the server stops.
  std::optional<std::size_t> stallAfterBodyBytes{};
  // Byte ranges: the answer carries "Accept-Ranges: bytes" and an ETag (the one in `headers`,
  // else one made from the body). A single "Range: bytes=first-[last]" or "bytes=-suffix", sent
  // without If-Range or with one naming that ETag or the Last-Modified of `headers`, gets 206 with
  // the slice and Content-Range, or 416 with "Content-Range: bytes */length" when no byte of it
  // exists. Without this a Range header is ignored.
  bool ranges = false;
};

// What the resumable-upload route has taken in for one upload.
struct ResumableUpload {
  std::uint64_t declaredLength = 0;  // from the start request
  std::string contentType;           // from the start request
  std::string received;              // empty while the server keeps no bodies
  std::uint64_t receivedLength = 0;
  std::uint64_t receivedHash = 0;  // FNV-1a 64 of the bytes in the order they came
  bool finalized = false;
  bool cancelled = false;
};

inline constexpr std::uint64_t kFNV1aOffset = 14695981039346656037ull;
std::uint64_t fnv1a(std::uint64_t hash, const void* bytes, std::size_t length);

// A TCP socket on a free loopback port, listening with `backlog` when one is given; fd is -1 when
// the system refuses.
struct LoopbackSocket {
  int fd = -1;
  int port = 0;
};
LoopbackSocket bindLoopback(std::optional<int> backlog);

// A listening loopback socket for servers written by hand, closed with the object.
class LoopbackListener {
 public:
  explicit LoopbackListener(int backlog);
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;
  int fd() const { return socket_.fd; }
  // "http://127.0.0.1:PORT/" + path (a leading "/" of path is dropped).
  std::string url(std::string_view path) const;

 private:
  LoopbackSocket socket_;
};

class FakeBackend {
 public:
  struct TLS {
    std::string certificatePath;
    std::string privateKeyPath;
  };

  // Plain HTTP.
  FakeBackend();
  // HTTPS with the given certificate; baseUrl() then starts with "https://".
  explicit FakeBackend(const TLS& tls);
  ~FakeBackend();
  FakeBackend(const FakeBackend&) = delete;
  FakeBackend& operator=(const FakeBackend&) = delete;

  int port() const;
  // "http://127.0.0.1:PORT/"
  std::string baseUrl() const;
  // baseUrl() + path (a leading "/" of path is dropped).
  std::string url(std::string_view path) const;

  // Answers method + path (exact path, without query; method "*" = any) with `reply`, every time.
  void reply(std::string method, std::string path, ScriptedReply reply);
  // Answers successive requests with the replies in order; the last one repeats.
  void replies(std::string method, std::string path, std::vector<ScriptedReply> replies);

  // The resumable-upload protocol of the upload fetcher: a "start" request to `path` opens an
  // upload at `path` + "/session/N"; chunks ("upload", "upload, finalize", "finalize") must come
  // at the received size or below it (the overlap is taken again); "query" reports the received
  // size; "cancel" drops the upload. `granularity` > 0 is announced on the start answer.
  void serveResumableUpload(std::string path, std::int64_t granularity = 0);
  // The next requests carrying `command` get these replies instead of the protocol's answer, in
  // order, each once; a chunk answered this way is not taken in.
  void interruptResumableUpload(std::string command, std::vector<ScriptedReply> replies);
  // Uploads in the order they were started.
  std::vector<ResumableUpload> resumableUploads() const;
  // false: bodies are counted and hashed, never kept (RecordedRequest::body and
  // ResumableUpload::received stay empty), so a large upload costs the server no memory.
  void setKeepsBodies(bool keep);

  std::vector<RecordedRequest> requests() const;
  std::size_t requestCount() const;
  std::optional<RecordedRequest> lastRequest() const;
  // TCP connections accepted so far.
  std::size_t connectionCount() const;
  // Waits (real time, bounded) until at least `count` requests were recorded.
  bool waitForRequestCount(std::size_t count, double timeoutSeconds = 5.0) const;
  void clearRequests();

  // A loopback port that refuses every connection for as long as this object lives: bound but
  // never listening. A port freed by a stopped server could be taken by a test running in
  // parallel before the refused connection is tried.
  class ClosedPort {
   public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    // "http://127.0.0.1:PORT/" + path (a leading "/" of path is dropped).
    std::string url(std::string_view path) const;

   private:
    int fd_ = -1;
    int port_ = 0;
  };

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};
