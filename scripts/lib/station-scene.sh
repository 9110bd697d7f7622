# SPDX-License-Identifier: MIT
# shellcheck shell=bash disable=SC2034  # the settings are read by the scripts that source this
# Sourced by the scripts that picture the station window on Linux and on
# Windows, so that both pictures show the same scene: eight lanes part-way,
# three boxes that took the image at a pty's speed (PASS), one that cancels
# the transfer (FAIL), four on lines paced at 115200 bit/s (SENDING).
#   . scripts/lib/station-scene.sh
#   station_scene_image CLI DIR       packs the image into DIR; its path in
#                                     STATION_SCENE_IMAGE
#   station_scene_box_args N          stbsim's options for lane N (0..7)
#                                     beyond the image's, one a line
#   station_scene_adapter N           the usb identity of lane N's adapter
# The lanes come in that order: the passing ones, the failing one, the paced.

STATION_SCENE_LANES=8
# What the results file holds once the picture may be taken: the fast boxes'
# lines and the failing one's, while the paced ones are still receiving.
STATION_SCENE_PASSING=3
STATION_SCENE_FAILING=1
STATION_SCENE_IMAGE=""

station_scene_image() {  # CLI DIR
  local cli=$1 dir=$2
  head -c $((120 * 1024)) /dev/urandom >"$dir/payload.bin"
  STATION_SCENE_IMAGE=$dir/stb-main-board-v1.2.dat
  "$cli" pack --version 1.2 --service-word 0A0B0C0D --mask-key 5A "$dir/payload.bin" \
    -o "$STATION_SCENE_IMAGE" >/dev/null
}

station_scene_box_args() {  # N
  case $1 in
    3) printf '%s\n' --can-block 40 ;;
    4 | 5 | 6 | 7) printf '%s\n' --pace 115200 ;;
  esac
}

station_scene_adapter() {  # N
  printf 'usb:0403:6001:A10K3B%02d\n' "$1"
}
