#!/usr/bin/env bash
# Installs every package the build, the tests and the benchmarks need.
# Safe to run again: it only calls apt when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32 xvfb x11-utils imagemagick
  # The 64-bit build of the Windows programs and 64-bit Wine, which run the
  # Windows tests where the kernel runs no 32-bit programs (Makefile).
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64
  nsis
  doctest-dev libdeflate-dev zlib1g-dev
  # The decoder's benchmark for i686 (bench/inflate_i686.sh): gcc -m32, the
  # i386 libraries it measures against, and qemu-i386 for kernels that run
  # no 32-bit programs (qemu-user-binfmt, only recommended, is left out).
  g++-multilib libdeflate-dev:i386 zlib1g-dev:i386 qemu-user
  libtomlplusplus-dev nlohmann-json3-dev
  clang libclang-rt-14-dev libfuzzer-14-dev
  python3
  xdelta3 bsdiff
  fonts-dejavu-core
)

sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo_if_needed dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_if_needed apt-get update -qq
  DEBIAN_FRONTEND=noninteractive sudo_if_needed apt-get install -y -qq --no-install-recommends "${missing[@]}"
elif [ "${need_update:-0}" = 1 ]; then
  sudo_if_needed apt-get update -qq
fi

# Windows tests of read-only files run Wine as this ordinary user: as root,
# Wine opens read-only files for writing (see scripts/wine-session.sh).
# A system account with no home, no login shell and no password.
wine_user=kelvo-wine
if [ "$(id -u)" -eq 0 ] && ! getent passwd "$wine_user" >/dev/null; then
  echo "creating system user $wine_user"
  useradd --system --user-group --no-create-home --home-dir /nonexistent \
    --shell /usr/sbin/nologin --comment "Kelvo Windows tests under Wine" "$wine_user"
fi
