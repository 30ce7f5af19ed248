# jtable: the layer lines and Bessel orders of a helix with 49 subunits in 3 turns, from the
# four numbers in examples/jtable/tmv.rule (l + 3n divisible by 49, l up to 9, |n| up to 20).
if [ -x "$bin/jtable" ]; then
  echo "== jtable: allowed (l, n) for the rule in tmv.rule"
  "$bin/jtable" < "$here/jtable/tmv.rule"
fi
