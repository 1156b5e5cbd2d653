#include "backend/request_log.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "backend/http_header.h"
#include "platform/frameworks/xcg_logger.h"
#include "platform/net/url_error.h"

namespace {

URL url(const char* text) { return *URL::URLWithString(text); }

URLRequest jsonRequest(std::string body) {
  URLRequest request(url("http://h/BrevantTest/Account/TabletLogin"));
  request.httpMethod = "POST";
  request.setValue(HTTPHeader::applicationJson(), HTTPHeader::contentType());
  request.httpBody = Data::fromString(body);
  return request;
}

std::shared_ptr<const HTTPURLResponse> response(HTTPHeaderFields fields = {}) {
  return std::make_shared<HTTPURLResponse>(url("http://h/a"), 200, "HTTP/1.1", std::move(fields));
}

NSError someError() { return NSError("TestDomain", 7); }

using Text = Result<std::string>;
Text failed(std::optional<Data> data) { return Text::failure(std::move(data), someError()); }

TEST(RequestLogTest, TextsOfRequestsAndAnswers) {
  EXPECT_EQ(RequestLog::formatRequest(Method::POST, jsonRequest("{\"userName\":\"a@b.cd\"}")),
            "\n-> POST http://h/BrevantTest/Account/TabletLogin, HEADERS: \n"
            "  Content-Type: application/json; charset=utf-8\n"
            "BODY:\n  {\"userName\":\"a@b.cd\"}");
  // No URL, no headers, no body; a zero-byte body is a body; bytes that are not text are counted.
  EXPECT_EQ(RequestLog::formatRequest(Method::GET, URLRequest()), "\n-> GET NO URL, HEADERS: \nBODY:empty");
  URLRequest request(url("http://h/x"));
  request.httpBody = Data();
  EXPECT_EQ(RequestLog::formatRequest(Method::GET, request), "\n-> GET http://h/x, HEADERS: \nBODY:\n  ");
  request.httpBody = Data(std::vector<std::uint8_t>{0xff, 0xd8, 0x00});
  EXPECT_EQ(RequestLog::formatRequest(Method::POST, request), "\n-> POST http://h/x, HEADERS: \nBODY:\n  <3 bytes>");

  const auto withHeaders = response({{"Content-Type", "text/plain"}, {"X-A", "1"}});
  EXPECT_EQ(RequestLog::formatResponse(Method::GET, Text::success("hi"), withHeaders),
            "\n<- GET http://h/a, HEADERS: \n  Content-Type: text/plain\n  X-A: 1\nBODY:\n  hi");
  // Failure: the data when it reads as UTF-8, else " empty" and no partial text.
  EXPECT_EQ(RequestLog::formatResponse(Method::POST, failed(Data::fromString("{\"errorCode\":3}")), response()),
            "\n<- POST http://h/a, HEADERS: \nBODY:\n  {\"errorCode\":3}");
  EXPECT_EQ(
      RequestLog::formatResponse(Method::POST, failed(Data(std::vector<std::uint8_t>{'o', 'k', 0xc3})), response()),
      "\n<- POST http://h/a, HEADERS: \nBODY: empty");
  EXPECT_EQ(RequestLog::formatResponse(Method::POST, failed(std::nullopt), nullptr),
            "\n<- POST NO URL, HEADERS: \nBODY: empty");

  EXPECT_EQ(RequestLog::formatDownloadResponse(Method::GET, Data(std::vector<std::uint8_t>(1234)), withHeaders),
            "\n<- GET http://h/a, HEADERS: \n  Content-Type: text/plain\n  X-A: 1\nDATA:\n 1234 bytes downloaded.");
  EXPECT_EQ(RequestLog::formatDownloadResponse(Method::GET, std::nullopt, response()),
            "\n<- GET http://h/a, HEADERS: \nDATA: empty");

  const NSError refused = URLError(NSURLErrorCannotConnectToHost, url("http://h/x"));
  EXPECT_EQ(RequestLog::formatResponseError(Method::GET, refused, URLRequest(url("http://h/x"))),
            "\n<- GET http://h/x ERROR: " + refused.description());
  EXPECT_EQ(RequestLog::formatResponseError(Method::POST, refused, std::nullopt),
            "\n<- POST NO URL ERROR: " + refused.description());
}

TEST(RequestLogTest, SecretsAreRedacted) {
  URLRequest request = jsonRequest(
      "{\"userName\":\"a@b.cd\",\"password\":\"s3cr\\\"et\", \"confirmPassword\" : \"x\",\n"
      "\"nested\":{\"oldPassword\":\"o\",\"newPassword\":{\"deep\":[1,\"}\"]}},\"token\":12345,"
      "\"pass\\u0077ord\":\"escaped\",\"tokenType\":\"keep\",\"list\":[\"token\",\"password\"]}");
  request.setValue(HTTPHeader::bearer() + "abc.def", HTTPHeader::authorization());
  request.setValue(HTTPHeader::zedodoProvider(), HTTPHeader::authorizationProvider());
  EXPECT_EQ(RequestLog::formatRequest(Method::POST, request),
            "\n-> POST http://h/BrevantTest/Account/TabletLogin, HEADERS: \n"
            "  Content-Type: application/json; charset=utf-8\n"
            "  Authorization: Bearer <redacted>\n"
            "  Authorization-Provider: zedodo\n"
            "BODY:\n  {\"userName\":\"a@b.cd\",\"password\":\"<redacted>\", \"confirmPassword\" : \"<redacted>\",\n"
            "\"nested\":{\"oldPassword\":\"<redacted>\",\"newPassword\":\"<redacted>\"},\"token\":\"<redacted>\","
            "\"pass\\u0077ord\":\"<redacted>\",\"tokenType\":\"keep\",\"list\":[\"token\",\"password\"]}");

  // Answers: the login reply's token, in success and failure bodies alike.
  EXPECT_EQ(RequestLog::formatResponse(Method::POST, Text::success("{\"token\":\"t0k\"}"), nullptr),
            "\n<- POST NO URL, HEADERS: \nBODY:\n  {\"token\":\"<redacted>\"}");
  EXPECT_EQ(RequestLog::formatResponse(Method::POST, failed(Data::fromString("{\"token\": \"t0k\"")), nullptr),
            "\n<- POST NO URL, HEADERS: \nBODY:\n  {\"token\": \"<redacted>\"");

  // Truncated or odd text never leaks the value nor crashes.
  EXPECT_EQ(RequestLog::formatResponse(Method::GET, Text::success("{\"password\":\"abc"), nullptr),
            "\n<- GET NO URL, HEADERS: \nBODY:\n  {\"password\":\"<redacted>\"");
  EXPECT_EQ(RequestLog::formatResponse(Method::GET, Text::success("\"password\":"), nullptr),
            "\n<- GET NO URL, HEADERS: \nBODY:\n  \"password\":");
  EXPECT_EQ(RequestLog::formatResponse(Method::GET, Text::success("<html>\"x"), nullptr),
            "\n<- GET NO URL, HEADERS: \nBODY:\n  <html>\"x");

  // Any other scheme in Authorization is hidden whole, and so are cookies both ways.
  URLRequest basic(url("http://h/x"));
  basic.setValue("Basic dXNlcjpwdw==", "authorization");
  basic.setValue("sid=abc", "cookie");
  EXPECT_EQ(RequestLog::formatRequest(Method::GET, basic),
            "\n-> GET http://h/x, HEADERS: \n  authorization: <redacted>\n  cookie: <redacted>\nBODY:empty");
  EXPECT_EQ(RequestLog::formatResponse(Method::GET, Text::success("{}"),
                                       response({{"Set-Cookie", "sid=abc; Path=/; HttpOnly"}, {"X-A", "1"}})),
            "\n<- GET http://h/a, HEADERS: \n  Set-Cookie: <redacted>\n  X-A: 1\nBODY:\n  {}");
}

class RequestLogCallsTest : public ::testing::Test {
 protected:
  struct Entry {
    XCGLogger::LogLevel level;
    std::string line;
    std::string text;
  };

  void SetUp() override {
    XCGLogger::defaultInstance().setup(XCGLogger::LogLevel::Verbose, false, true, false, false, true, true, false);
    XCGLogger::defaultInstance().setSink(
        [this](XCGLogger::LogLevel level, const std::string& line, const std::string& text) {
          entries.push_back({level, line, text});
        });
  }
  void TearDown() override {
    XCGLogger::defaultInstance().setSink(nullptr);
    XCGLogger::defaultInstance().setup();
  }

  std::vector<Entry> entries;
};

TEST_F(RequestLogCallsTest, EntriesCarryFunctionFileLineAndOneLevel) {
  const URLRequest request = jsonRequest("{}");
  const int line = __LINE__ + 1;
  RequestLog::logRequest(RequestLog::processRequestFunction, Method::POST, request);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].level, XCGLogger::LogLevel::Debug);
  EXPECT_EQ(entries[0].line, "[TransferCoordinator:" + std::to_string(line) +
                                 "] processRequest(_:request:completion:) > " + entries[0].text);

  // With a response: the answer text. Without: the error, when the request is known. Else nothing.
  const auto ok = Text::success("{}");
  const auto failure = failed(std::nullopt);
  RequestLog::logAnswer(RequestLog::uploadImageFunction, Method::POST, request, response(), ok);
  RequestLog::logAnswer(RequestLog::uploadImageFunction, Method::POST, request, nullptr, failure);
  RequestLog::logAnswer(RequestLog::uploadImageFunction, Method::POST, std::nullopt, nullptr, failure);
  RequestLog::logAnswer(RequestLog::uploadImageFunction, Method::POST, request, nullptr, ok);
  RequestLog::logDownloadAnswer(request, response(), Data::fromString("abc"), std::nullopt);
  RequestLog::logDownloadAnswer(request, nullptr, std::nullopt, someError());
  RequestLog::logDownloadAnswer(request, nullptr, std::nullopt, std::nullopt);
  std::vector<std::string> texts;
  for (const auto& entry : entries) texts.push_back(entry.text);
  EXPECT_EQ(texts, (std::vector<std::string>{
                       RequestLog::formatRequest(Method::POST, request),
                       RequestLog::formatResponse(Method::POST, ok, response()),
                       RequestLog::formatResponseError(Method::POST, someError(), request),
                       RequestLog::formatDownloadResponse(Method::GET, Data::fromString("abc"), response()),
                       RequestLog::formatResponseError(Method::GET, someError(), request)}));
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_NE(entries[2].line.find("uploadImage(_:imageData:pictureFormat:success:failure:encodeError:) > "),
            std::string::npos);
  EXPECT_NE(entries[4].line.find("downloadDataFromUrl(_:completion:) > "), std::string::npos);

  // Below the level the text is never built.
  XCGLogger::defaultInstance().setup(XCGLogger::LogLevel::Info);
  RequestLog::log([]() -> std::string { throw std::logic_error("built"); }, RequestLog::processRequestFunction);
  EXPECT_EQ(entries.size(), 5u);
}

}  // namespace
