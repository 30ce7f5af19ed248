# layermean: averages aligned data sets in the frame of their reference. Here the gridscan
# example's reference and its test particle (turned by 4.5 degrees, shifted by -12 Angstroms,
# 2 percent larger), each given where it lies against the reference.
if [ -x "$bin/layermean" ]; then
  echo "== layermean: average of the gridscan example's reference and test particle"
  mkdir -p layermean
  cp "$here/gridscan/ref.dat" "$here/gridscan/test.dat" layermean/
  printf 'particle\tfile\tphi\tz\trscale\tstatus\nref\tref.dat\t0\t0\t1\tok\ntest\ttest.dat\t4.5\t-12\t1.02\tok\n' \
    > layermean/alignments.tsv
  "$bin/layermean" --table layermean/alignments.tsv --repeat 80 --output layermean/average.dat \
    --halves layermean/half1.dat layermean/half2.dat --stats layermean/stats.tsv
fi
