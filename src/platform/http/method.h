#pragma once

// HTTP methods; rawValue() is the text that goes on the request line.
enum class Method { OPTIONS, GET, HEAD, POST, PUT, PATCH, DELETE, TRACE, CONNECT };

constexpr const char* rawValue(Method method) {
  switch (method) {
    case Method::OPTIONS: return "OPTIONS";
    case Method::GET: return "GET";
    case Method::HEAD: return "HEAD";
    case Method::POST: return "POST";
    case Method::PUT: return "PUT";
    case Method::PATCH: return "PATCH";
    case Method::DELETE: return "DELETE";
    case Method::TRACE: return "TRACE";
    case Method::CONNECT: return "CONNECT";
  }
  return "GET";
}
