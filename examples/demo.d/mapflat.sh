# mapflat: a 4 x 3 x 2 density map projected along y into a 4 x 2 map, raised so that its
# minimum is 0. The input is named through a logical name (an environment variable).
if [ -x "$bin/mapflat" ]; then
  echo "== mapflat: density.map projected along y into flat.map"
  printf 'DENSITY\nflat.map\n' | DENSITY="$here/mapflat/density.map" "$bin/mapflat"
fi
