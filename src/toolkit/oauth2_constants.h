#pragma once

// Error domain, codes, notification names and keys of the OAuth 2 authorization and sign-in flow.

inline constexpr const char* kZTKOAuth2ErrorDomain = "com.zedodo.ZTKOAuth2";

enum ZTKOAuth2Error : long {
  ZTKOAuth2ErrorWindowClosed = -1000,
  ZTKOAuth2ErrorAuthorizationFailed = -1001,
  ZTKOAuth2ErrorTokenUnavailable = -1003,
  ZTKOAuth2ErrorUnauthorizableRequest = -1004,
};

inline constexpr const char* kZTKOAuth2FetchStarted = "kZTKOAuth2FetchStarted";
inline constexpr const char* kZTKOAuth2FetchStopped = "kZTKOAuth2FetchStopped";
inline constexpr const char* kZTKOAuth2AccessTokenRefreshed = "kZTKOAuth2AccessTokenRefreshed";
inline constexpr const char* kZTKOAuth2AccessTokenRefreshFailed = "kZTKOAuth2AccessTokenRefreshFailed";
inline constexpr const char* kZTKOAuth2RefreshTokenChanged = "kZTKOAuth2RefreshTokenChanged";
inline constexpr const char* kZTKOAuth2UserSignedIn = "kZTKOAuth2UserSignedIn";
inline constexpr const char* kZTKOAuthNetworkLost = "kZTKOAuthNetworkLost";
inline constexpr const char* kZTKOAuthNetworkFound = "kZTKOAuthNetworkFound";

// User-info keys of the notifications and errors.
inline constexpr const char* kZTKOAuth2FetcherKey = "fetcher";
inline constexpr const char* kZTKOAuth2FetchTypeKey = "FetchType";
inline constexpr const char* kZTKOAuth2ErrorObjectKey = "kZTKOAuth2ErrorObjectKey";
inline constexpr const char* kZTKOAuth2ErrorMessageKey = "error";
inline constexpr const char* kZTKOAuth2ErrorJSONKey = "json";
inline constexpr const char* kZTKOAuth2ErrorRequestKey = "request";

inline constexpr const char* kZTKOAuth2FetchTypeRefresh = "refresh";
inline constexpr const char* kZTKOAuth2FetchTypeToken = "token";
inline constexpr const char* kZTKOAuth2FetchTypeAssertion = "assertion";
inline constexpr const char* kZTKOAuth2FetchTypeUserInfo = "userInfo";

// The JWT-bearer grant type (the early draft's URI, which the token endpoints we talk to know).
inline constexpr const char* kZTKOAuth2JWTBearerGrantType = "http://oauth.net/grant_type/jwt/1.0/bearer";
