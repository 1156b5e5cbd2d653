#include "platform/net/url_error.h"

std::string URLErrorLocalizedDescription(long code) {
  switch (code) {
    case NSURLErrorCancelled: return "cancelled";
    case NSURLErrorBadURL: return "bad URL";
    case NSURLErrorTimedOut: return "The request timed out.";
    case NSURLErrorUnsupportedURL: return "unsupported URL";
    case NSURLErrorCannotFindHost: return "A server with the specified hostname could not be found.";
    case NSURLErrorCannotConnectToHost: return "Could not connect to the server.";
    case NSURLErrorNetworkConnectionLost: return "The network connection was lost.";
    case NSURLErrorDNSLookupFailed: return "A server with the specified hostname could not be found.";
    case NSURLErrorHTTPTooManyRedirects: return "too many HTTP redirects";
    case NSURLErrorResourceUnavailable: return "The requested resource is unavailable.";
    case NSURLErrorNotConnectedToInternet: return "The Internet connection appears to be offline.";
    case NSURLErrorRedirectToNonExistentLocation: return "redirect to non-existent location";
    case NSURLErrorBadServerResponse: return "bad server response";
    case NSURLErrorUserCancelledAuthentication: return "The user canceled authentication.";
    case NSURLErrorUserAuthenticationRequired: return "The user needs to authenticate.";
    case NSURLErrorZeroByteResource: return "zero byte resource";
    case NSURLErrorCannotDecodeRawData: return "cannot decode raw data";
    case NSURLErrorCannotDecodeContentData: return "cannot decode content data";
    case NSURLErrorCannotParseResponse: return "cannot parse response";
    case NSURLErrorRequestBodyStreamExhausted: return "request body stream exhausted";
    case NSURLErrorAppTransportSecurityRequiresSecureConnection:
      return "The resource could not be loaded because a secure connection is required.";
    case NSURLErrorFileDoesNotExist: return "The requested URL was not found on this server.";
    case NSURLErrorFileIsDirectory: return "file is directory";
    case NSURLErrorNoPermissionsToReadFile:
      return "The file cannot be opened because you don’t have permission to read it.";
    case NSURLErrorDataLengthExceedsMaximum: return "resource exceeds maximum size";
    case NSURLErrorSecureConnectionFailed:
      return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case NSURLErrorServerCertificateHasBadDate: return "The certificate for this server has expired.";
    case NSURLErrorServerCertificateUntrusted: return "The certificate for this server is invalid.";
    case NSURLErrorServerCertificateHasUnknownRoot:
      return "The certificate for this server was signed by an unknown certifying authority.";
    case NSURLErrorServerCertificateNotYetValid: return "The certificate for this server is not yet valid.";
    case NSURLErrorClientCertificateRejected: return "The server did not accept the certificate.";
    case NSURLErrorClientCertificateRequired: return "The server requires a client certificate.";
    case NSURLErrorCannotLoadFromNetwork: return "can’t load from network";
    case NSURLErrorCannotCreateFile: return "cannot create file";
    case NSURLErrorCannotOpenFile: return "cannot open file";
    case NSURLErrorCannotCloseFile: return "cannot close file";
    case NSURLErrorCannotWriteToFile: return "cannot write file";
    case NSURLErrorCannotRemoveFile: return "cannot remove file";
    case NSURLErrorCannotMoveFile: return "cannot move file";
    case NSURLErrorDownloadDecodingFailedMidStream: return "download decoding failed";
    case NSURLErrorDownloadDecodingFailedToComplete: return "download decoding failed";
    default: return "unknown error";
  }
}

NSError URLError(long code, const std::optional<URL>& failingURL) {
  Value::Dictionary info{{NSLocalizedDescriptionKey, Value(URLErrorLocalizedDescription(code))}};
  if (failingURL) {
    info[NSURLErrorFailingURLErrorKey] = Value(failingURL->absoluteString());
    info[NSURLErrorFailingURLStringErrorKey] = Value(failingURL->absoluteString());
  }
  return NSError(NSURLErrorDomain, code, std::move(info));
}
