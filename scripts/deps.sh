#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail
PKGS=(build-essential cmake pkg-config ninja-build clang
      nlohmann-json3-dev libcurl4-openssl-dev libicu-dev libplist-dev libsqlite3-dev zlib1g-dev
      libexpected-dev libfmt-dev libgtest-dev libgmock-dev libcpp-httplib-dev
      openssl libssl-dev python3 libxml2-dev libsndfile1-dev libjpeg62-turbo-dev libpng-dev
      libpsl-dev publicsuffix libclang-rt-14-dev libasound2-dev)
missing=()
for p in "${PKGS[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  # env passes the setting through sudo, which would otherwise drop it.
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
