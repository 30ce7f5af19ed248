# spotrecast: a 2-D reflection list as a 3-D list with l = 0, every field copied as text.
if [ -x "$bin/spotrecast" ]; then
  echo "== spotrecast: spots.txt as a 3-D reflection list"
  cp "$here/spotrecast/spots.txt" spots.txt
  printf 'spots.txt\nspots3d.txt\n' | "$bin/spotrecast"
  cat spots3d.txt
fi
