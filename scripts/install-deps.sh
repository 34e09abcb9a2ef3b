#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, test and benchmark the project.
# Idempotent and quiet: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-l10n-tools qt6-tools-dev qt6-translations-l10n
  libtomcrypt-dev libtommath-dev
  liblua5.1-0-dev
  zlib1g-dev libzstd-dev
  openssl ca-certificates
  nginx-light curl python3 strace
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (${missing[*]}); run as root to install them" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
