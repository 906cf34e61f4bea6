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
  # The LZMA SDK's decoder and encoder sources (solid blocks).
  lzma-dev
  # The decoder's benchmark for i686 (bench/inflate_i686.sh): gcc -m32, the
  # i386 libraries it measures against, and qemu-i386 for kernels that run
  # no 32-bit programs (qemu-user-binfmt, only recommended, is left out).
  g++-multilib libdeflate-dev:i386 zlib1g-dev:i386 qemu-user
  libtomlplusplus-dev nlohmann-json3-dev
  clang libclang-rt-14-dev libfuzzer-14-dev
  python3 xz-utils
  xdelta3 bsdiff
  fonts-dejavu-core
  # The tests of paths in other code pages run Wine under these locales
  # (Wine takes the ANSI code page from LANG), and screenshots of Japanese
  # texts need a CJK font.
  locales fonts-wqy-microhei
  # kelvo signs setups through osslsigncode; the signing test makes its
  # certificates with openssl.
  osslsigncode openssl
  # kelvo.exe, kelvo cross-built for Windows: the threads-enabled mingw-w64
  # compiler (g++-mingw-w64-x86-64-posix comes with the one above), zlib for
  # mingw-w64, dpkg-dev to unpack libdeflate's Debian source (below), and zip
  # and unzip for the Windows release archive and its test.
  libz-mingw-w64-dev dpkg-dev zip unzip
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

# Locales the Windows tests run Wine under: Japanese (code page 932), German
# and Swedish (1252), Russian (1251), English. Generated only when missing.
locales=(ja_JP.UTF-8 de_DE.UTF-8 ru_RU.UTF-8 sv_SE.UTF-8 en_US.UTF-8)
have_locales="$(locale -a 2>/dev/null | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')"
generate=0
for l in "${locales[@]}"; do
  wanted="$(echo "$l" | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')"
  grep -qx "$wanted" <<<"$have_locales" || generate=1
done
if [ "$generate" = 1 ]; then
  for l in "${locales[@]}"; do
    line="$l UTF-8"
    grep -qx "$line" /etc/locale.gen 2>/dev/null || echo "$line" | sudo_if_needed tee -a /etc/locale.gen >/dev/null
  done
  sudo_if_needed locale-gen
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

# kelvo.exe must write the same bytes as kelvo on Linux, so it compresses with
# the same libdeflate. Debian builds no mingw-w64 library of it, so its
# Debian source, at the version of the installed libdeflate-dev, is fetched
# into third_party/ and CMake builds it for Windows (Makefile: kelvo-exe).
# apt needs a deb-src entry for that: one is added for the suites the
# system's own entries name.
repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
deflate_version="$(dpkg-query -W -f='${Version}\n' libdeflate-dev | head -n 1)"
deflate_upstream="${deflate_version%-*}"
deflate_dir="$repo_root/third_party/libdeflate-$deflate_upstream"
if [ ! -f "$deflate_dir/libdeflate.h" ]; then
  src_list=/etc/apt/sources.list.d/kelvo-deb-src.sources
  if ! apt-get source --print-uris "libdeflate=$deflate_version" >/dev/null 2>&1; then
    system_list=/etc/apt/sources.list.d/debian.sources
    uris="$(awk '/^URIs:/ {print $2; exit}' "$system_list" 2>/dev/null || true)"
    suite="$(awk '/^Suites:/ {print $2; exit}' "$system_list" 2>/dev/null || true)"
    uris="${uris:-http://deb.debian.org/debian}"
    suite="${suite:-$(. /etc/os-release && echo "$VERSION_CODENAME")}"
    printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$uris" "$suite" | sudo_if_needed tee "$src_list" >/dev/null
    sudo_if_needed apt-get update -qq
  fi
  echo "fetching libdeflate $deflate_version's source into third_party/"
  mkdir -p "$repo_root/third_party"
  fetch_dir="$(mktemp -d "$repo_root/third_party/.fetch-XXXXXX")"
  chmod 755 "$fetch_dir"  # apt downloads as its own user
  (cd "$fetch_dir" && apt-get source -qq "libdeflate=$deflate_version" >/dev/null)
  rm -rf "$deflate_dir"
  mv "$fetch_dir/libdeflate-$deflate_upstream" "$deflate_dir"
  rm -rf "$fetch_dir"
fi
