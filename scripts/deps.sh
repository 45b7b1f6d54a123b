#!/usr/bin/env bash
# Installs what is missing for building, testing and running (Debian 12 packages only).
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config
      qt6-base-dev qt6-svg-dev libgl-dev
      libopencv-dev
      libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev libopencv-videoio-dev
      libopencv-stitching-dev libopencv-features2d-dev libopencv-calib3d-dev libopencv-flann-dev
      libavformat-dev libavcodec-dev libavutil-dev libjpeg62-turbo-dev
      libgtest-dev libgmock-dev libbenchmark-dev libzip-dev libpugixml-dev
      clang libclang-rt-14-dev
      libaravis-dev libusb-1.0-0-dev aravis-tools ffmpeg
      fonts-arphic-uming fonts-arphic-ukai xvfb xauth xdg-utils
      fonts-noto-cjk qt6-translations-l10n
      dpkg-dev fakeroot file desktop-file-utils appstream lintian
      python3 python3-openpyxl ffmpeg
      libreoffice-calc-nogui libreoffice-writer-nogui poppler-utils)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# A locale with a decimal comma, so the tests can prove that numbers still print with ".".
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  dpkg-query -W -f='${Status}' locales 2>/dev/null | grep -q "install ok installed" || {
    $SUDO apt-get update -qq; DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq locales; }
  $SUDO sed -i 's/^# *de_DE.UTF-8/de_DE.UTF-8/' /etc/locale.gen
  $SUDO locale-gen >/dev/null
fi
