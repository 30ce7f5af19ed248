# The alignment tables of the rounds (rules/rounds.smk): one table a round from its chunks'
# rows, in particle order, with the fitted (phi, z) also reduced to the symmetry-equivalent
# pair nearest (0, 0), the particles' halves and the sides judged; alignments.tsv is the last
# round's.
