# helixsim: a synthetic helical particle (the demo's reference, examples/helix/ref.sim).
if [ -x "$bin/helixsim" ]; then
  echo "== helixsim: transform, sidesplit deck and gridded layer lines of a synthetic helix"
  mkdir -p helixsim.run
  (
    cd helixsim.run
    "$bin/helixsim" --control "$here/helix/ref.sim" | sed -n '/helixsim:/,$p'
    echo "-- sidesplit.dek, the first lines:"
    head -n 8 sidesplit.dek
    echo "-- layerlines.dat, the first lines:"
    head -n 4 layerlines.dat
  )
fi
