#!/usr/bin/env bash
# Installs the Debian packages that building and testing kestrel-recovery-cli needs.
#   scripts/install-deps.sh              build + test dependencies (Linux and the Windows cross build)
#   scripts/install-deps.sh --fixtures   also the tools that regenerate the test images and run the
#                                        carving and imaging benchmarks
set -euo pipefail

packages=(
  build-essential g++ cmake ninja-build pkg-config make
  nlohmann-json3-dev libssl-dev zlib1g-dev libicu-dev
  libgtest-dev googletest
  g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64
  xz-utils python3
  clang-format-19 clang-tidy-19
)
if [[ "${1:-}" == "--fixtures" ]]; then
  packages+=(dosfstools mtools exfatprogs exfat-fuse gdisk fdisk e2fsprogs sleuthkit faketime
             libjpeg-turbo-progs imagemagick libimage-exiftool-perl ffmpeg sox webp libheif-examples
             libavif-bin ghostscript pandoc zip testdisk time gddrescue ntfs-3g attr
             libarchive-zip-perl)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [[ ${#missing[@]} -eq 0 ]]; then
  exit 0
fi

sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
