#!/usr/bin/env bash
# Installs, with apt-get, whatever of the build's needs this machine lacks. Safe to run again.
# Extra packages may be named on the command line; NAME:ARCH (libsqlite3-dev:armel) adds ARCH to
# dpkg's architectures first.
set -euo pipefail
cd "$(dirname "$0")/.."

needed=(cmake g++ make pkg-config libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev libncurses-dev tmux
        nlohmann-json3-dev groff-base man-db dpkg-dev librsvg2-bin lintian systemd file)
missing=()
for pkg in "${needed[@]}" "$@"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
for pkg in "${missing[@]}"; do
  arch=${pkg#*:}
  [ "$arch" != "$pkg" ] || continue
  if [ "$arch" != "$(dpkg --print-architecture)" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    $sudo dpkg --add-architecture "$arch"
  fi
done
scripts/apt-update.sh
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
