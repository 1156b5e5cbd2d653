#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail
PKGS=(build-essential cmake pkg-config ninja-build clang
      nlohmann-json3-dev libcurl4-openssl-dev libicu-dev libplist-dev libsqlite3-dev zlib1g-dev
      libexpected-dev libfmt-dev libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
      openssl libssl-dev)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
