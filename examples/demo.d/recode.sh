# recode: every phase of a point-list file moved by 180 degrees.
if [ -x "$bin/recode" ]; then
  echo "== recode: near.dat with every phase moved by 180 degrees"
  "$bin/recode" < "$here/recode/near.dat" > near180.dat
  cat near180.dat
fi
