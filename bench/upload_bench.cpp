// A 64 MB file sent to one loopback server, in one run, two ways: in chunks of 1 MiB by the
// resumable upload fetcher, and as one plain PUT streamed from the file by libcurl. The server
// counts and hashes what it receives and keeps nothing, so the memory measured is the
// uploader's. The ways alternate round by round; each way's best round counts. Prints the time
// ratio and the growth of the peak resident memory over the chunked uploads, then the ratio again
// with the server in a process of its own.
//
// Where the time goes (perf, loopback): about half of all samples are the server hashing what it
// receives, alike for both ways. Beyond the plain PUT each chunk costs a request and its answer
// before the next may start (a fetcher and its session made and dropped each time), and its
// temporary file: the range is copied into it inside the kernel (copy_file_range, about 0.3 ms a
// MiB), so the chunk is never read into this process's memory, and the next chunk's file is made
// while the chunk before it is sent, off the way from one chunk's answer to the next request; the
// file is then read again as the request body and removed when the chunk is done.
#include <curl/curl.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench_process.h"
#include "bench_timing.h"
#include "platform/foundation/run_loop.h"
#include "support/fake_backend.h"
#include "support/temp_dir.h"
#include "toolkit/session_upload_fetcher.h"

namespace {

constexpr std::int64_t kFileSize = 64ll << 20;
constexpr std::int64_t kChunkSize = 1 << 20;
constexpr int kRounds = 5;

// Written in pieces: the file must not sit in this process's memory.
std::uint64_t writeFile(const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<char> piece(1 << 16);
  std::uint64_t hash = kFNV1aOffset;
  for (std::int64_t written = 0; written < kFileSize; written += static_cast<std::int64_t>(piece.size())) {
    for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<char>((written + i) * 31 / 7);
    out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    hash = fnv1a(hash, piece.data(), piece.size());
  }
  return hash;
}

// kB of "VmRSS" or "VmHWM" in /proc/self/status.
long statusKB(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size() + 1));
  }
  return -1;
}

// Resets the peak resident size to the current one.
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

bool plainPut(const std::string& url, const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  CURL* easy = curl_easy_init();
  curl_slist* headers = curl_slist_append(nullptr, "Expect:");
  headers = curl_slist_append(headers, "Content-Type: application/octet-stream");
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(easy, CURLOPT_READDATA, file);
  curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(kFileSize));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(
      easy, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t count, void*) { return size * count; });
  long status = 0;
  const bool ok = curl_easy_perform(easy) == CURLE_OK &&
                  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200;
  curl_slist_free_all(headers);
  curl_easy_cleanup(easy);
  std::fclose(file);
  return ok;
}

bool chunkedUpload(const std::string& url, const std::string& path, std::int64_t chunkSize = kChunkSize) {
  URLRequest request(*URL::URLWithString(url));
  auto fetcher =
      ZSDK_ZTKSessionUploadFetcher::uploadFetcherWithRequest(request, "application/octet-stream", chunkSize, nullptr);
  // Background sessions keep their identifiers in the user defaults: nothing a benchmark wants.
  fetcher->setUseBackgroundSession(false);
  fetcher->setAllowLocalhostRequest(true);
  fetcher->setAllowedInsecureSchemes({"http"});
  fetcher->setUploadFileURL(URL::fileURLWithPath(path));
  bool done = false;
  bool ok = false;
  fetcher->beginFetchWithCompletionHandler([&](std::optional<Data>, std::optional<NSError> error) {
    done = true;
    ok = !error;
  });
  return RunLoop::main().runUntil([&] { return done; }, 600.0) && ok;
}

void setUpServer(FakeBackend& server) {
  server.setKeepsBodies(false);
  server.serveResumableUpload("/up");
}

// The ways take turns; prints each way's best round and their ratio. False when an upload failed
// or arrived altered.
bool measure(BenchServer& server, const std::string& path, std::uint64_t hash, const char* label) {
  double bestPlain = 1e9;
  double bestChunked = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    bool ok = true;
    bestPlain = std::min(bestPlain, seconds([&] { ok = plainPut(server.url("plain"), path); }));
    const ServerReport plain = server.report();
    if (!ok || plain.requests == 0 || plain.lastBodyLength != static_cast<std::uint64_t>(kFileSize) ||
        plain.lastBodyHash != hash) {
      std::fprintf(stderr, "plain PUT failed or arrived altered\n");
      return false;
    }
    bestChunked = std::min(bestChunked, seconds([&] { ok = chunkedUpload(server.url("up"), path); }));
    const ServerReport chunked = server.report();
    if (!ok || chunked.uploadLength != static_cast<std::uint64_t>(kFileSize) || chunked.uploadHash != hash) {
      std::fprintf(stderr, "chunked upload failed or arrived altered\n");
      return false;
    }
    server.clear();
  }
  std::printf("upload of %lld MiB, %s: plain PUT %.3f s, chunks of %lld KiB %.3f s\n",
              static_cast<long long>(kFileSize >> 20), label, bestPlain, static_cast<long long>(kChunkSize >> 10),
              bestChunked);
  std::printf("ratio chunked/plain, %s: %.2f (target at most 1.25)\n", label, bestChunked / bestPlain);
  return true;
}

int runBoth() {
  RunLoop::main();
  TempDir dir("upload_bench");
  const std::string path = (dir.path() / "body.bin").string();
  const std::uint64_t hash = writeFile(path);
  FakeBackend local;
  setUpServer(local);
  BenchServer server(local);

  // The server, the network engine and the uploader's code and threads warm up on a plain PUT and
  // a small chunked upload; the first large one then shows what its chunks cost, before the
  // allocator keeps freed chunks around.
  if (!plainPut(server.url("plain"), path)) return 1;
  const std::string small = (dir.path() / "small.bin").string();
  std::ofstream(small, std::ios::binary) << std::string(64 << 10, 'x');
  if (!chunkedUpload(server.url("up"), small, 16 << 10)) return 1;
  resetPeak();
  const long before = statusKB("VmRSS:");
  const std::size_t connectionsBefore = local.connectionCount();
  if (!chunkedUpload(server.url("up"), path)) return 1;
  std::printf("new connections during the measured chunked upload: %zu\n",
              local.connectionCount() - connectionsBefore);
  const long peakGrowthKB = statusKB("VmHWM:") - before;
  server.clear();
  if (!measure(server, path, hash, "server in this process")) return 1;
  std::printf("peak resident growth: %.2f MiB = %.2f chunks (target < 2)\n", peakGrowthKB / 1024.0,
              peakGrowthKB * 1024.0 / kChunkSize);

  // As the client runs: the server in a process of its own.
  ServerProcess child;
  if (!child.running()) return 1;
  BenchServer remote(child);
  if (!plainPut(remote.url("plain"), path)) return 1;
  remote.clear();
  return measure(remote, path, hash, "server in another process") ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) { return benchMain(argc, argv, setUpServer, runBoth); }
