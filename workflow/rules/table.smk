# One alignment table from the chunks' rows, in particle order, with the fitted (phi, z)
# also reduced to the symmetry-equivalent pair nearest (0, 0) and the particles' halves.


rule table:
    input:
        chunks=expand(f"{OUT}/chunks/{{chunk}}.tsv", chunk=CHUNKS),
        particles=PARTICLE_TABLE,
    output:
        f"{OUT}/alignments.tsv",
    params:
        u=config["rule"][0],
        t=config["rule"][1],
    resources:
        mem_mb=res("table", "mem_mb", 1000),
        runtime=res("table", "runtime", 10),
    shell:
        "{PY} {SCRIPTS}/make_table.py --output {output} --rule {params.u} {params.t}"
        " --repeat {config[repeat]} --particle-table {input.particles} {input.chunks}"
