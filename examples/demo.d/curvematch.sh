# curvematch: fits a gridded test layer-line file to a reference by rotation, axial shift and
# radial scale. The example test is the reference rotated by 4.5 degrees and shifted by 2.2 A.
if [ -x "$bin/curvematch" ]; then
  echo "== curvematch: align test.dat to ref.dat (true phi = 4.5, z = 2.2, rscale = 1.0)"
  cp "$here/curvematch/ref.dat" "$here/curvematch/test.dat" "$here/curvematch/curvematch.ctl" .
  rm -f curvematch.res fitted.dat
  printf 'curvematch.ctl\ncurvematch.res\nfitted.dat\n2 118\n' | "$bin/curvematch" > curvematch.out
  sed -n '/phase residual for each test layer-line/,$p' curvematch.out
  echo "results record (R factor code, phi, z, rscale, residual code):"
  cat curvematch.res
  echo "fitted test file: $(wc -l < fitted.dat) lines, first lines:"
  head -3 fitted.dat
fi
