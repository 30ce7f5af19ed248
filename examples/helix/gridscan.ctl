9 0.01 0.002 0
1.0 1.0 1.0 1.0 1.0 1.0 1.0 1.0 1.0
helix 10/3: test particle against the reference, near sides
0 0
