#pragma once

#include <string>

// Names and values of the request headers the transfer coordinator sets. Each text is built once,
// on first use, so reading one from another static initialiser is safe.
struct HTTPHeader {
  static const std::string& contentType() {
    static const std::string text = "Content-Type";
    return text;
  }
  static const std::string& applicationJson() {
    static const std::string text = "application/json; charset=utf-8";
    return text;
  }
  static const std::string& authorization() {
    static const std::string text = "Authorization";
    return text;
  }
  // Followed directly by the token.
  static const std::string& bearer() {
    static const std::string text = "Bearer ";
    return text;
  }
  static const std::string& authorizationProvider() {
    static const std::string text = "Authorization-Provider";
    return text;
  }
  static const std::string& basicProvider() {
    static const std::string text = "basic";
    return text;
  }
  static const std::string& facebookProvider() {
    static const std::string text = "facebook";
    return text;
  }
  static const std::string& zedodoProvider() {
    static const std::string text = "zedodo";
    return text;
  }

  HTTPHeader() = delete;
};
