# sidesplit: layer lines of a small synthetic transform into near.dat and far.dat.
if [ -x "$bin/sidesplit" ]; then
  echo "== sidesplit: layer-line extraction from examples/sidesplit/transform.map"
  mkdir -p sidesplit.run
  (
    cd sidesplit.run
    cp "$here/sidesplit/sidesplit.dek" .
    IN="$here/sidesplit/transform.map" "$bin/sidesplit"
    echo "-- near.dat, the first two layer lines:"
    head -n 35 near.dat
    echo "-- far.dat: $(grep -c ' LL ' far.dat) blocks, the first:"
    head -n 18 far.dat
  )
fi
