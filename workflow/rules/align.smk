# Per particle: helixft (images) -> sidesplit -> gridscan of both sides, a chunk of particles
# a job, so that the cost of a job is shared by many particles. On a cluster the profile
# groups several chunks into one submission.

GS = config.get("gridscan", {})


rule align_chunk:
    input:
        particles=chunk_inputs,
        reference=rules.reference.output,
        deck=config["deck"],
    output:
        table=f"{OUT}/chunks/{{chunk}}.tsv",
        folder=directory(f"{OUT}/chunks/{{chunk}}"),
    params:
        names=lambda w: ",".join(NAMES[int(w.chunk) * CHUNK : (int(w.chunk) + 1) * CHUNK]),
        opposite="--opposite" if GS.get("polarity", "same") == "opposite" else "",
        ftargs=config.get("helixft_options", ""),
    group:
        "chunks"
    threads: 1
    resources:
        mem_mb=res("align", "mem_mb", 500),
        runtime=res("align", "runtime", 60),
    shell:
        "{PY} {SCRIPTS}/align_chunk.py --table {output.table} --folder {output.folder}"
        " --input {config[input]} --reference {input.reference} --deck {input.deck}"
        " --repeat {config[repeat]} --layer-lines {GS[layer_lines]} --delbr {GS[delbr]}"
        " --weight {GS[weight]} {params.opposite} --threshold {config[residual_threshold]}"
        " --bin '{config[bin]}' --helixft-args '{params.ftargs}' --names {params.names}"
        " --particle-table {PARTICLE_TABLE}"
