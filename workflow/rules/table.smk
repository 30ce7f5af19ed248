# One alignment table from the chunks' rows, in particle order, with the fitted (phi, z)
# also reduced to the symmetry-equivalent pair nearest (0, 0) and the particles' halves.


rule table:
    input:
        expand(f"{OUT}/chunks/{{chunk}}.tsv", chunk=CHUNKS),
    output:
        f"{OUT}/alignments.tsv",
    params:
        u=config["rule"][0],
        t=config["rule"][1],
        ctf=f"--particle-table '{PARTICLE_TABLE}'" if config.get("ctf") else "",
    resources:
        mem_mb=res("table", "mem_mb", 1000),
        runtime=res("table", "runtime", 10),
    shell:
        "{PY} {SCRIPTS}/make_table.py --output {output} --rule {params.u} {params.t}"
        " --repeat {config[repeat]} {params.ctf} {input}"
