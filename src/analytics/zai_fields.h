#pragma once

// Hit field keys. A key starting with "&" is sent as the parameter of the same name without it.
inline constexpr const char* kZAIHitType = "&t";
inline constexpr const char* kZAIScreenName = "&cd";
inline constexpr const char* kZAITrackingId = "&tid";
inline constexpr const char* kZAIClientId = "&cid";
inline constexpr const char* kZAIProtocolVersion = "&v";
