# linerecast: a point-list file rewritten as a layer-line listing (the NUL byte of each
# header's filler is shown as ^@).
if [ -x "$bin/linerecast" ]; then
  echo "== linerecast: near.dat as a layer-line listing"
  "$bin/linerecast" < "$here/linerecast/near.dat" > near.lst
  cat -v near.lst
fi
