# gridscan: aligns a test point-list layer-line file to a reference one. The example test data
# are the reference turned by 4.5 degrees, shifted by -12 Angstroms and scaled radially by 1.02.
if [ -x "$bin/gridscan" ]; then
  echo "== gridscan: search rotation, axial shift and radial scale of a test particle"
  cp "$here/gridscan/gridscan.ctl" "$here/gridscan/ref.dat" "$here/gridscan/test.dat" .
  "$bin/gridscan" --control gridscan.ctl --reference ref.dat --test test.dat --report gridscan.txt
  cat gridscan.txt
fi
