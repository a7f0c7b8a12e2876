#!/usr/bin/env bash
# Cross-builds the host target (system, framework, virtual handheld, tools and tests) for 32-bit
# ARM, the handheld's word size and instruction set, and runs the host test suite under
# qemu-user. Build folder: $PELORN_ARM_BUILD, or build-arm. Ends with ctest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh g++-arm-linux-gnueabi qemu-user tmux
build=${PELORN_ARM_BUILD:-build-arm}
sysroot=$PWD/$build/sysroot

# SQLite, ncurses and GoogleTest as Debian builds them for armel. Their -dev packages cannot be
# installed beside the amd64 ones (the security archive no longer carries armel, so the
# versions libc6-dev:armel needs lag behind the amd64 ones), so they are unpacked into the build
# folder; the programs are linked statically and need nothing else of armel to run.
if [ ! -f "$sysroot/.unpacked" ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  dpkg --print-foreign-architectures | grep -qx armel || $sudo dpkg --add-architecture armel
  scripts/apt-update.sh
  rm -rf "$sysroot"
  mkdir -p "$sysroot/debs"
  (cd "$sysroot/debs" && apt-get download -qq libsqlite3-dev:armel libncurses-dev:armel libgtest-dev:armel \
    libgmock-dev:armel 2>&1 | grep -v "unsandboxed as root" || true)
  for deb in "$sysroot"/debs/*.deb; do dpkg-deb -x "$deb" "$sysroot"; done
  [ -f "$sysroot/usr/lib/arm-linux-gnueabi/libsqlite3.a" ] && [ -f "$sysroot/usr/lib/arm-linux-gnueabi/libgtest.a" ] &&
    [ -f "$sysroot/usr/lib/arm-linux-gnueabi/libncursesw.a" ] || { echo "armel libraries missing" >&2; exit 1; }
  find "$sysroot" -name '*.so' -delete
  touch "$sysroot/.unpacked"
fi

# Optimised as the host build, without its debug information, which makes the static test
# programs slow to link. No benchmarks: speed is measured on the host.
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/arm-linux-gnueabi.cmake" -DPELORN_ARM_SYSROOT="$sysroot" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DPELORN_BENCHMARKS=OFF -DPELORN_STATIC=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
