#include "support/tls_cert.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

std::unique_ptr<SelfSignedCertificate> SelfSignedCertificate::make() {
  std::string pattern = (std::filesystem::temp_directory_path() / "dorvale-tls-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return nullptr;
  std::unique_ptr<SelfSignedCertificate> cert(new SelfSignedCertificate());
  cert->directory_ = pattern;
  cert->certificatePath_ = pattern + "/cert.pem";
  cert->privateKeyPath_ = pattern + "/key.pem";
  // An EC key keeps generation fast.
  std::string command = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
                        " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
                        cert->privateKeyPath_ + "' -out '" + cert->certificatePath_ + "' >/dev/null 2>&1";
  int status = std::system(command.c_str());
  if (status != 0 || !std::filesystem::exists(cert->certificatePath_)) return nullptr;
  return cert;
}

SelfSignedCertificate::~SelfSignedCertificate() {
  std::error_code ec;
  std::filesystem::remove_all(directory_, ec);
}
