# mapconvert: a map written on a big-endian machine and an old-style map, rewritten as native
# maps (the image library prints its account of every file it opens).
if [ -x "$bin/mapconvert" ]; then
  echo "== mapconvert: big-endian map -> native map"
  "$bin/mapconvert" "$here/mapconvert/bigendian.map" native.map
  echo "== mapconvert: old-style map -> native map"
  "$bin/mapconvert" "$here/mapconvert/oldstyle.map" native_old.map
fi
