8 0.0125 0.002 0
1.0 1.0 1.0 1.0 1.0 1.0 1.0 0.5
synthetic particle: test = reference turned by 4.5 degrees, shifted by -12 A, scaled by 1.02
0 0
