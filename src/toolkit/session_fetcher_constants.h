#pragma once

// Error domains, codes, user-info keys and notification names of the session fetcher.

inline constexpr const char* kZTKSessionFetcherErrorDomain = "com.zedodo.ZTKSessionFetcher";
inline constexpr const char* kZTKSessionFetcherStatusDomain = "com.zedodo.HTTPStatus";
// User-info key of a status error's response body.
inline constexpr const char* kZTKSessionFetcherStatusDataKey = "data";

enum ZTKSessionFetcherError : long {
  ZTKSessionFetcherErrorBeginFailed = -1,
  ZTKSessionFetcherErrorUploadChunkUnavailable = -2,
  ZTKSessionFetcherErrorBackgroundTimeExpired = -3,
  ZTKSessionFetcherErrorRestoredSessionWithoutTasks = -4,
  ZTKSessionFetcherErrorInsecureRequest = -5,
};

inline constexpr const char* kZTKSessionFetcherStartedNotification = "kZTKSessionFetcherStartedNotification";
inline constexpr const char* kZTKSessionFetcherStoppedNotification = "kZTKSessionFetcherStoppedNotification";
inline constexpr const char* kZTKSessionFetcherRetryDelayStartedNotification =
    "kZTKSessionFetcherRetryDelayStartedNotification";
inline constexpr const char* kZTKSessionFetcherRetryDelayStoppedNotification =
    "kZTKSessionFetcherRetryDelayStoppedNotification";

// Prefix of every session identifier the fetcher makes for a background session.
inline constexpr const char* kZTKSessionIdentifierPrefix = "com.zedodo.ZTKSessionFetcher";
// User-defaults key of the persisted background-session identifiers.
inline constexpr const char* kZTKSessionFetcherPersistedSessionsKey = "com.zedodo.ZTKSessionFetcher.downloads";

// Class-lookup prefix of the toolkit's optional classes.
inline constexpr const char* kZTKClassPrefix = "ZSDK_";
