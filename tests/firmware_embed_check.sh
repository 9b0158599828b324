#!/usr/bin/env bash
# The build tells the repository's test image from a firmware image by the
# marker in its data, also when the marker runs across records.
# Usage: firmware_embed_check.sh SOURCE_DIR SCRATCH_DIR
set -euo pipefail
src=$1
work=$2
mkdir -p "$work"
embed() { cmake -DINPUT="$1" -DOUTPUT="$work/out.cpp" -P "$src/cmake/embed_firmware.cmake"; }

embed "$src/device/firmware/dravlen32u4.hex"
grep -q 'firmware_is_test_image = 1;' "$work/out.cpp" || { echo "test image not recognised"; exit 1; }

# Any other image counts as firmware: here random-looking code bytes.
printf ':100000000C945C000C946E000C946E000C946E00CA\r\n:00000001FF\r\n' >"$work/real.hex"
embed "$work/real.hex"
grep -q 'firmware_is_test_image = 0;' "$work/out.cpp" || { echo "real image taken for the test image"; exit 1; }
grep -q 'firmware_source_name\[\] = "real.hex";' "$work/out.cpp" || { echo "source name missing"; exit 1; }
echo "firmware embed: ok"
