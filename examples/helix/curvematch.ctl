helix 10/3: test particle against the reference
ref/layerlines.dat
0 100.0 0.002 0.002
5.0
0 1.0
test/layerlines.dat
0 0
0.0 2.0 5
0.0 5.0 7
1.0 0.01 4
0
