#pragma once

#include <optional>
#include <string_view>

// The sign-in providers whose users register through the external registration.
enum class ExternalAuthProvider { Facebook, Zedodo };

constexpr std::string_view rawValue(ExternalAuthProvider provider) {
  return provider == ExternalAuthProvider::Facebook ? "facebook" : "zedodo";
}

// Exact raw values only; case matters.
constexpr std::optional<ExternalAuthProvider> externalAuthProviderFromRaw(std::string_view raw) {
  if (raw == "facebook") return ExternalAuthProvider::Facebook;
  if (raw == "zedodo") return ExternalAuthProvider::Zedodo;
  return std::nullopt;
}
