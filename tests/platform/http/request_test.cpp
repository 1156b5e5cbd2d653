#include "platform/http/request.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/foundation/run_loop.h"
#include "platform/http/http_error.h"
#include "platform/http/multipart_form_data.h"
#include "support/virtual_time.h"

namespace {

std::shared_ptr<const HTTPURLResponse> httpResponse(int status, HTTPHeaderFields fields = {}) {
  return std::make_shared<HTTPURLResponse>(*URL::URLWithString("http://127.0.0.1/x"), status, "HTTP/1.1",
                                           std::move(fields));
}

Data bytes(std::vector<std::uint8_t> b) { return Data(std::move(b)); }

// The string result a fresh request gives for this answer.
Result<std::string> stringResult(std::shared_ptr<const HTTPURLResponse> response, std::optional<Data> data,
                                 bool validate, std::optional<StringEncoding> encoding = StringEncoding::UTF8) {
  auto request = Request::make(std::nullopt);
  if (validate) request->validate();
  std::optional<Result<std::string>> out;
  request->responseString(encoding, [&](auto&, auto&, const Result<std::string>& r) { out = r; });
  request->didComplete(std::move(response), std::move(data), std::nullopt);
  EXPECT_TRUE(out.has_value());
  return out.value_or(Result<std::string>::failure(std::nullopt, NSError()));
}

TEST(RequestTest, HandlersRunOnceInOrderOnTheMainLoopNeverInsideRegistration) {
  VirtualTime time;
  auto request = Request::make(URLRequest(*URL::URLWithString("http://127.0.0.1/x")));
  std::vector<std::string> calls;
  request->response(nullptr, [&](auto&, auto&, auto&, auto&) { calls.push_back("data"); });
  request->responseString(StringEncoding::UTF8, [&](auto&, auto&, auto&) { calls.push_back("string"); });
  EXPECT_TRUE(calls.empty());

  request->didComplete(httpResponse(200), Data::fromString("x"), std::nullopt);
  request->didComplete(httpResponse(500), Data(), std::nullopt);  // a second answer is ignored
  EXPECT_EQ(calls, (std::vector<std::string>{"data", "string"}));

  // Registered after the answer: still delivered, but on a later turn of the loop.
  int late = 0;
  request->responseString(std::nullopt, [&](auto& sent, auto& response, auto& result) {
    ++late;
    EXPECT_EQ(std::tuple(RunLoop::isMainThread(), sent.has_value(), response->statusCode(), result.value()),
              std::tuple(true, true, 200, "x"));
  });
  EXPECT_EQ(late, 0);
  time.runUntilIdle();
  time.runUntilIdle();
  EXPECT_EQ(std::pair(late, calls.size()), std::pair(1, std::size_t{2}));

  // From another thread: posted to the main loop.
  std::atomic<int> fromThread{0};
  std::thread([&] {
    request->response(nullptr, [&](auto&, auto&, auto&, auto&) {
      EXPECT_TRUE(RunLoop::isMainThread());
      ++fromThread;
    });
  }).join();
  EXPECT_TRUE(time.runUntil([&] { return fromThread == 1; }));
  time.runUntilIdle();
  EXPECT_EQ(fromThread, 1);
}

TEST(RequestTest, ValidationBoundsAndOrder) {
  VirtualTime time;
  for (int status : {200, 299}) EXPECT_TRUE(stringResult(httpResponse(status), Data(), true).isSuccess()) << status;
  for (int status : {199, 300}) EXPECT_TRUE(stringResult(httpResponse(status), Data(), true).isFailure()) << status;
  // Without validate() any status is a success.
  EXPECT_EQ(stringResult(httpResponse(500), Data::fromString("boom"), false).value(), "boom");

  // validate() applies to the handlers registered after it, the data handler included.
  auto request = Request::make(std::nullopt);
  std::optional<NSError> before, after;
  request->response(nullptr, [&](auto&, auto&, auto&, auto& e) { before = e; });
  request->validate()->response(nullptr, [&](auto&, auto&, auto&, auto& e) { after = e; });
  request->didComplete(httpResponse(401), Data(), std::nullopt);
  EXPECT_FALSE(before.has_value());
  EXPECT_TRUE(after.has_value());
}

TEST(RequestTest, TextDecoding) {
  VirtualTime time;
  // Overlong forms, surrogates, values past U+10FFFF and cut sequences are not UTF-8.
  for (auto b :
       {bytes({0xed, 0xa0, 0x80}), bytes({0xc0, 0xaf}), bytes({0xf4, 0x90, 0x80, 0x80}), bytes({0xe2, 0x82})}) {
    auto result = stringResult(httpResponse(200), b, false);
    ASSERT_TRUE(result.isFailure());
    // The bytes are kept for the caller.
    EXPECT_EQ(std::tuple(result.error()->code, result.data()),
              std::tuple(static_cast<long>(HTTPErrorCode::StringSerializationFailed), b));
  }
  EXPECT_EQ(stringResult(httpResponse(200), Data::fromString("h\xc3\xa9 \xf0\x9f\x98\x80"), false).value(),
            "h\xc3\xa9 \xf0\x9f\x98\x80");

  // No encoding: the charset of the response, else Latin-1.
  EXPECT_EQ(stringResult(httpResponse(200, {{"Content-Type", "text/plain; charset=utf-8"}}), bytes({0xc3, 0xa9}), false,
                         std::nullopt)
                .value(),
            "\xc3\xa9");
  EXPECT_EQ(stringResult(httpResponse(200), bytes({0xe9}), false, std::nullopt).value(), "\xc3\xa9");

  // Handlers after a text one still get the bytes as they came, whichever the encoding.
  for (auto encoding : {StringEncoding::UTF8, StringEncoding::ISOLatin1}) {
    for (const Data& body : {Data::fromString("h\xc3\xa9"), Data::fromString("plain")}) {
      auto request = Request::make(std::nullopt);
      std::vector<std::optional<Data>> seen;
      auto keep = [&](auto&, auto&, auto& data, auto&) { seen.push_back(data); };
      request->response(nullptr, keep)->responseString(encoding, [](auto&, auto&, auto&) {})->response(nullptr, keep);
      request->didComplete(httpResponse(200), body, std::nullopt);
      request->response(nullptr, keep);
      time.runUntilIdle();
      EXPECT_EQ(seen, std::vector<std::optional<Data>>(3, body)) << body.toString();
    }
  }
}

TEST(MultipartFormDataTest, QuotesAndLineBreaksCannotEscapeTheirParameter) {
  MultipartFormData form;
  form.append(Data::fromString("img"), "fi\"le", "a\r\nX-Evil: 1.png", "image/png\r\nX-Evil: 2");
  const std::string body = form.encode().toString();
  EXPECT_EQ(body, "--" + form.boundary() +
                      "\r\nContent-Disposition: form-data; name=\"fi%22le\"; filename=\"a%0D%0AX-Evil: 1.png\"\r\n"
                      "Content-Type: image/pngX-Evil: 2\r\n\r\nimg\r\n--" +
                      form.boundary() + "--\r\n");
  EXPECT_EQ(form.contentLength(), body.size());
  EXPECT_EQ(form.contentType(), "multipart/form-data; boundary=" + form.boundary());
  EXPECT_NE(MultipartFormData().boundary(), form.boundary());
}

}  // namespace
