#!/usr/bin/env bash
# Installs what the build, the game and the tests need on Debian 12, and only what is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libsdl2-dev libepoxy-dev libfreetype-dev libharfbuzz-dev libfontconfig-dev
  libfribidi-dev libunibreak-dev
  libpng-dev libjpeg62-turbo-dev zlib1g-dev
  imagemagick netpbm
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core
  libgl1-mesa-dri libegl1 libegl-mesa0 libgl1
  libstb-dev
  clang libclang-rt-14-dev
  libx11-dev libxtst-dev xvfb openbox
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
