# Particles from a STAR file (or a particle table): the table every alignment job reads, its
# rows checked when the workflow starts; and the accepted segments with their fitted
# orientations written back as a STAR file that other programs reconstruct from.


localrules:
    particle_table,


rule particle_table:
    input:
        PARTICLES_SOURCE,
    output:
        PARTICLE_TABLE,
    run:
        import star_particles

        quorvan_wf.write_atomic(output[0], star_particles.table_text(ROWS))


rule star_out:
    input:
        table=f"{OUT}/alignments.tsv",
        particles=PARTICLE_TABLE,
    output:
        f"{OUT}/alignments.star",
    params:
        pixel=f"--pixel {config['pixel']}" if config.get("pixel") else "",
    resources:
        mem_mb=res("table", "mem_mb", 1000),
        runtime=res("table", "runtime", 10),
    shell:
        "{PY} {SCRIPTS}/star_out.py --table {input.table} --output {output} --particle-table {input.particles} {params.pixel}"
