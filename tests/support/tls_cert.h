#pragma once

#include <memory>
#include <string>

#include "support/temp_dir.h"

// A self-signed certificate for 127.0.0.1 made by the openssl command in a temporary folder,
// which is removed again with the object.
class SelfSignedCertificate {
 public:
  // Null when the openssl command is missing or fails.
  static std::unique_ptr<SelfSignedCertificate> make();

  std::string certificatePath() const { return directory_.str() + "/cert.pem"; }
  std::string privateKeyPath() const { return directory_.str() + "/key.pem"; }

 private:
  SelfSignedCertificate() : directory_("dorvale-tls") {}
  TempDir directory_;
};
