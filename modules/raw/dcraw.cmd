#!/bin/sh
# The camera-raw converter the program runs from its own folder:
#   dcraw.cmd -i FILE        exit 0 only when dcraw knows FILE
#   dcraw.cmd /i FILE OUT    the full image as an 8-bit PPM in OUT
#   dcraw.cmd /t FILE OUT    the embedded preview (JPEG or PPM) in OUT
# The program passes absolute paths, so no name is taken for an option.
# On failure OUT is left empty.
case "$1" in
  -i) exec dcraw -i "$2" >/dev/null 2>&1 ;;
  /i) dcraw -c -w "$2" >"$3" 2>/dev/null || : >"$3" ;;
  /t) dcraw -c -e "$2" >"$3" 2>/dev/null || : >"$3" ;;
  *) exit 2 ;;
esac
