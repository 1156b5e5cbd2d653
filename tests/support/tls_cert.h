#pragma once

#include <memory>
#include <string>

// A self-signed certificate for 127.0.0.1 made by the openssl command in a temporary folder,
// which is removed again with the object.
class SelfSignedCertificate {
 public:
  // Null when the openssl command is missing or fails.
  static std::unique_ptr<SelfSignedCertificate> make();
  ~SelfSignedCertificate();

  const std::string& certificatePath() const { return certificatePath_; }
  const std::string& privateKeyPath() const { return privateKeyPath_; }

 private:
  SelfSignedCertificate() = default;
  std::string directory_;
  std::string certificatePath_;
  std::string privateKeyPath_;
};
