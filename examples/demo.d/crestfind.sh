# crestfind: the largest amplitude of every layer line of a point-list file and its ratio to
# the equator's, asked for through its terminal dialogue.
if [ -x "$bin/crestfind" ]; then
  echo "== crestfind: amplitude maxima of the layer lines of near.dat"
  cp "$here/crestfind/near.dat" crest-near.dat
  rm -f crest-summary.txt
  printf 'crest-near.dat\ncrest-summary.txt\n' | "$bin/crestfind"
  cat crest-summary.txt
fi
