#include "platform/net/http_header_fields.h"

#include <gtest/gtest.h>

#include "platform/net/input_stream.h"
#include "platform/net/url_response.h"

namespace {

TEST(HTTPHeaderFieldsTest, NamesIgnoreCaseAndKeepTheirFirstSpellingAndOrder) {
  HTTPHeaderFields fields{{"Accept", "a"}, {"X-One", "1"}};
  fields.setValue("b", "ACCEPT");
  fields.addValue("2", "x-one");
  fields.addValue("new", "X-Two");
  EXPECT_EQ(fields.fields(),
            (std::vector<HTTPHeaderFields::Field>{{"Accept", "b"}, {"X-One", "1, 2"}, {"X-Two", "new"}}));
  fields.setValue(std::nullopt, "accept");
  EXPECT_FALSE(fields.contains("Accept"));
  EXPECT_EQ(fields.valueForHTTPHeaderField("x-two"), "new");
}

TEST(HTTPHeaderFieldsTest, ResponseReadsTypeEncodingAndLengthFromItsFields) {
  HTTPURLResponse response(*URL::URLWithString("http://127.0.0.1/a/report.pdf"), 404, "HTTP/1.1",
                           {{"content-type", "Text/HTML; Charset=\"ISO-8859-1\""}, {"Content-Length", "12"}});
  EXPECT_EQ(std::tuple(response.mimeType(), response.textEncodingName(), response.expectedContentLength(),
                       response.suggestedFilename()),
            std::tuple("text/html", "iso-8859-1", 12, "report.pdf"));
  EXPECT_EQ(HTTPURLResponse::localizedStringForStatusCode(404), "not found");
  EXPECT_EQ(HTTPURLResponse::localizedStringForStatusCode(599), "server error");

  HTTPURLResponse bare(*URL::URLWithString("http://127.0.0.1/"), 200, "HTTP/1.1", {{"Content-Length", "-5"}});
  EXPECT_EQ(std::tuple(bare.mimeType(), bare.expectedContentLength()),
            std::tuple(std::nullopt, NSURLResponseUnknownLength));
}

TEST(InputStreamTest, DataStreamReadsSeeksAndEnds) {
  auto stream = InputStream::inputStreamWithData(Data::fromString("hello"));
  std::uint8_t buffer[4];
  EXPECT_EQ(stream->read(buffer, 4), -1);  // not open yet
  stream->open();
  EXPECT_EQ(stream->read(buffer, 4), 4);
  EXPECT_EQ(stream->read(buffer, 4), 1);
  EXPECT_EQ(stream->streamStatus(), StreamStatus::AtEnd);
  EXPECT_EQ(stream->read(buffer, 4), 0);
  EXPECT_TRUE(stream->setProperty(Value(1), NSStreamFileCurrentOffsetKey));
  EXPECT_EQ(stream->read(buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, buffer + 4), "ello");
  EXPECT_FALSE(stream->setProperty(Value(9), NSStreamFileCurrentOffsetKey));

  auto missing = InputStream::inputStreamWithFileAtPath("/nonexistent/dorvale");
  missing->open();
  EXPECT_EQ(missing->streamStatus(), StreamStatus::Error);
  EXPECT_TRUE(missing->streamError());
}

}  // namespace
