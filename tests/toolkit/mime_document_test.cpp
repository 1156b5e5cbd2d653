#include <fmt/format.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "platform/foundation/run_loop.h"
#include "support/virtual_time.h"
#include "toolkit/mime_document.h"
#include "toolkit/read_monitor_input_stream.h"

namespace {

std::string readAll(InputStream& stream, std::size_t bufferSize = 4096) {
  std::string out;
  std::vector<std::uint8_t> buffer(bufferSize);
  for (long n; (n = stream.read(buffer.data(), buffer.size())) > 0;) out.append(buffer.begin(), buffer.begin() + n);
  return out;
}

std::shared_ptr<const Data> block(std::string_view text) {
  return std::make_shared<const Data>(Data::fromString(text));
}

}  // namespace

TEST(MIMEDocument, BodyBytesAndLength) {
  auto document = ZSDK_ZTKMIMEDocument::MIMEDocument();
  document->addPartWithHeaders({{"b", "2"}, {"A", "1"}}, Data::fromString("first"));
  document->addPartWithHeaders({}, Data::fromString("x"));
  auto output = document->generateInputStream();
  EXPECT_EQ(output.boundary, "END_OF_PART");
  output.stream->open();
  const std::string body = readAll(*output.stream, 3);
  EXPECT_EQ(body,
            "\r\n--END_OF_PART\r\nA: 1\r\nb: 2\r\n\r\nfirst"
            "\r\n--END_OF_PART\r\n\r\nx"
            "\r\n--END_OF_PART--\r\n");
  EXPECT_EQ(output.length, body.size());

  // Part separator 7 + empty header block 2 + body 1 + end marker 9.
  auto small = ZSDK_ZTKMIMEDocument::MIMEDocument();
  small->addPartWithHeaders({}, Data::fromString("z"));
  small->setBoundary("q");
  EXPECT_EQ(small->generateInputStream().length, 19u);
  auto empty = ZSDK_ZTKMIMEDocument::MIMEDocument()->generateInputStream();
  empty.stream->open();
  EXPECT_EQ(readAll(*empty.stream), "\r\n--END_OF_PART--\r\n");
}

TEST(MIMEDocument, BoundaryAvoidsThePartsAndIsChosenAgainAfterAChange) {
  auto document = ZSDK_ZTKMIMEDocument::MIMEDocument();
  document->seedRandomWith(1);
  document->addPartWithHeaders({}, Data::fromString("plain"));
  EXPECT_EQ(document->boundary(), "END_OF_PART");
  document->addPartWithHeaders({}, Data::fromString("..END_OF_PART.. and END_OF_PART_00000001"));
  EXPECT_EQ(document->boundary(), "END_OF_PART_00000002");
  // A header holding it counts too.
  auto headed = ZSDK_ZTKMIMEDocument::MIMEDocument();
  headed->seedRandomWith(7);
  headed->addPartWithHeaders({{"X", "END_OF_PART"}}, Data());
  EXPECT_EQ(headed->boundary(), "END_OF_PART_00000007");

  // Every generated candidate collides: the fallback is not checked.
  std::string all = "END_OF_PART";
  for (int i = 1; i <= 10; ++i) all += fmt::format(" END_OF_PART_{:08x}", i);
  auto crowded = ZSDK_ZTKMIMEDocument::MIMEDocument();
  crowded->addPartWithHeaders({}, Data::fromString(all));
  crowded->seedRandomWith(1);
  EXPECT_EQ(crowded->boundary(), "0000000b_vantrel_0000000c");
}

TEST(MIMEDocument, HeaderLineBreaksAreRefused) {
  auto document = ZSDK_ZTKMIMEDocument::MIMEDocument();
  EXPECT_THROW(document->addPartWithHeaders({{"X", "a\r\nInjected: yes"}}, Data()), std::invalid_argument);
  EXPECT_THROW(document->addPartWithHeaders({{"X\n", "a"}}, Data()), std::invalid_argument);
  EXPECT_TRUE(document->parts().empty());
}

TEST(MIMEDocument, PartSearchFindsSequencesAcrossBothBuffers) {
  auto part = ZSDK_ZTKMIMEPart::partWithHeaders({{"K", "v"}}, Data::fromString("aab"));
  const auto has = [&](std::string_view s) {
    return part->containsBytes(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  EXPECT_TRUE(has("ab"));
  EXPECT_TRUE(has("K: v"));
  EXPECT_FALSE(has("abc"));
  EXPECT_FALSE(has("\naa"));  // never across the header/body seam
}

TEST(GatherInputStream, ReadsSkipEmptyBlocksAndEndOnce) {
  auto stream = ZSDK_ZTKGatherInputStream::streamWithArray({block("ab"), block(""), block("cde")});
  EXPECT_EQ(stream->streamStatus(), StreamStatus::NotOpen);
  stream->open();
  std::uint8_t buffer[64];
  EXPECT_EQ(stream->read(buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer, buffer + 5), "abcde");
  EXPECT_EQ(stream->streamStatus(), StreamStatus::AtEnd);
  EXPECT_EQ(stream->read(buffer, sizeof buffer), 0);
}

TEST(GatherInputStream, SeeksThroughTheOffsetProperty) {
  auto stream = ZSDK_ZTKGatherInputStream::streamWithArray({block("ab"), block("cde")});
  stream->open();
  struct Case {
    long long offset;
    long long expected;
    std::string rest;
  };
  for (const Case& c : {Case{3, 3, "de"}, Case{2, 2, "cde"}, Case{-4, 0, "abcde"}, Case{99, 5, ""}}) {
    EXPECT_TRUE(stream->setProperty(Value(c.offset), NSStreamFileCurrentOffsetKey));
    EXPECT_EQ(stream->propertyForKey(NSStreamFileCurrentOffsetKey)->asInteger(), c.expected) << c.offset;
    EXPECT_EQ(readAll(*stream), c.rest) << c.offset;
  }
  EXPECT_FALSE(stream->setProperty(Value(1), "other"));
  EXPECT_FALSE(stream->propertyForKey("other"));
}

TEST(ReadMonitorInputStream, ReportsNonEmptyReadsOnTheCreatingThread) {
  VirtualTime time;
  auto inner = ZSDK_ZTKGatherInputStream::streamWithArray({block("hello")});
  auto monitor = ZSDK_ZTKReadMonitorInputStream::inputStreamWithStream(inner);
  auto delegate = std::make_shared<int>(0);
  std::string seen;
  monitor->open();
  std::uint8_t buffer[3];
  EXPECT_EQ(monitor->read(buffer, 2), 2);  // no delegate or selector yet: nothing reported
  monitor->setReadDelegate(delegate);
  EXPECT_EQ(monitor->read(buffer, 1), 1);  // no selector yet
  monitor->setReadSelector([&](ZSDK_ZTKReadMonitorInputStream& stream, const std::uint8_t* bytes, std::int64_t n) {
    EXPECT_EQ(&stream, monitor.get());
    seen.append(bytes, bytes + n);
  });
  EXPECT_EQ(monitor->read(buffer, 1), 1);
  EXPECT_EQ(seen, "l");

  // Read on another thread: queued to the creator's loop with its own copy.
  std::thread([&] { EXPECT_EQ(monitor->read(buffer, 3), 1); }).join();
  EXPECT_EQ(seen, "l");
  time.runUntilIdle();
  EXPECT_EQ(seen, "lo");
  EXPECT_EQ(monitor->read(buffer, 3), 0);  // the end is not reported
  EXPECT_EQ(monitor->streamStatus(), StreamStatus::AtEnd);
  EXPECT_EQ(seen, "lo");
}
