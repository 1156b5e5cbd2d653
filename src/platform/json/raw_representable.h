#pragma once

#include <optional>
#include <string_view>
#include <type_traits>

// An enumeration that travels as text. Specialise with the table of cases and raw values:
//
//   template <> struct EnumTraits<Kind> {
//     static constexpr std::pair<Kind, std::string_view> cases[] = {{Kind::a, "a"}, ...};
//   };
template <class E>
struct EnumTraits;

template <class E>
concept RawRepresentable = std::is_enum_v<E> && requires {
  EnumTraits<E>::cases[0].first;
  EnumTraits<E>::cases[0].second;
};

// The case whose raw value equals `raw` exactly (whole text, case-sensitive), or nothing.
template <RawRepresentable E>
constexpr std::optional<E> enumFromRawValue(std::string_view raw) {
  for (const auto& [value, text] : EnumTraits<E>::cases)
    if (text == raw) return value;
  return std::nullopt;
}

template <RawRepresentable E>
constexpr std::string_view rawValue(E value) {
  for (const auto& [candidate, text] : EnumTraits<E>::cases)
    if (candidate == value) return text;
  return {};
}
