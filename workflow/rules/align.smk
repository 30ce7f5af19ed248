# Per particle: helixft (images) -> sidesplit -> gridscan of both sides, a chunk of particles
# a job, so that the cost of a job is shared by many particles. On a cluster the profile
# groups several chunks into one submission.

GS = config.get("gridscan", {})


def ctf_chunk_options():
    """align_chunk's options for the particle table and the CTF."""
    out = f"--particle-table '{PARTICLE_TABLE}'"
    if config.get("ctf"):
        c = quorvan_wf.check_ctf(config["ctf"])
        out += f" --ctf {c['voltage']} {c['cs']} {c['amplitude_contrast']} {c['bfactor']}"
        if config.get("contrast", "microscope") == "inverted":
            out += " --inverted"
    return out


rule align_chunk:
    input:
        particles=chunk_inputs,
        reference=rules.reference.output,
        deck=rules.check.output.deck,
        full_deck=rules.check.output.full_deck,
    output:
        table=f"{OUT}/chunks/{{chunk}}.tsv",
        folder=directory(f"{OUT}/chunks/{{chunk}}"),
    params:
        names=lambda w: ",".join(NAMES[int(w.chunk) * CHUNK : (int(w.chunk) + 1) * CHUNK]),
        ftargs=config.get("helixft_options", ""),
        options=lambda w: search_options(1),
        polarity=lambda w: POLARITY,
        table=ctf_chunk_options(),
        # with the orders separated, the particles also sampled with the whole deck
        full=lambda w, input: f"--full-deck {input.full_deck}" if SEPARATION == "auto" else "",
    group:
        "chunks"
    threads: 1
    resources:
        mem_mb=res("align", "mem_mb", 500),
        runtime=res("align", "runtime", 60),
    shell:
        "{PY} {SCRIPTS}/align_chunk.py --table {output.table} --folder {output.folder}"
        " --input {config[input]} --reference {input.reference} --deck {input.deck} {params.full}"
        " --polarity {params.polarity} {params.options}"
        " --helixft-args '{params.ftargs}' --names {params.names} {params.table}"
