# mapsig: the t statistic (times 100) of two sets of 3 x 3 x 2 maps, 8 and 6 maps, from their
# mean and standard-deviation maps (the last written on a big-endian machine). Set 1 has a
# raised density at the centre of its second section; one voxel has no variance in either set.
# The inputs are named through logical names, the output through TSTAT.
if [ -x "$bin/mapsig" ]; then
  echo "== mapsig: t-statistic map of two sets into tstat.map"
  printf 'two sets of example maps\n8\nMEAN1\nSDEV1\n6\nMEAN2\nSDEV2\n' |
    MEAN1="$here/mapsig/mean1.map" SDEV1="$here/mapsig/sdev1.map" \
    MEAN2="$here/mapsig/mean2.map" SDEV2="$here/mapsig/sdev2.map" TSTAT=tstat.map "$bin/mapsig"
fi
