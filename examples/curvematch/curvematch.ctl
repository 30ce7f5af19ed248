example fit: test rotated by 4.5 degrees, shifted by 2.2 A
ref.dat
1 100.0 0.002 0.002
5.0
1 1.0
test.dat
0 0
0.0 2.0 5
0.0 1.0 5
1.0 0.02 4
0
