# The check before any job: the config, the deck, the reference and one particle header per
# distinct file size. A run that cannot be right stops here with one line per reason; warnings
# go into check/summary.txt (and the report) and on standard error. Every alignment samples
# with the deck the check leaves, cut to the radii where each layer line is single-order; when
# the orders are separated the particles are also sampled with the whole deck (sidesplit-full.dek)
# for the averages.
# It takes a fraction of a second: it runs where Snakemake runs, never through a queue.

localrules:
    check,


# The settings the check reads: a change of any of them checks again.
CHECKED = ["input", "helixft_options", "reference", "deck", "repeat", "rule", "outer_radius",
           "bessel_level", "separation", "gridscan"]


rule check:
    input:
        deck=config["deck"],
        reference=config["reference"],
    output:
        summary=f"{OUT}/check/summary.txt",
        deck=f"{OUT}/check/sidesplit.dek",
        full_deck=f"{OUT}/check/sidesplit-full.dek",
        limits=f"{OUT}/check/limits.tsv",
    params:
        # the particles' files as the run reads them (from a glob, a list, a table or a STAR file)
        particles=PARTICLES,
        settings=repr(
            [{k: config.get(k) for k in CHECKED}, [config["map"].get(k) for k in ("enabled", "resolution")]]
        ),
    resources:
        mem_mb=res("check", "mem_mb", 500),
        runtime=res("check", "runtime", 10),
    script:
        "../scripts/runcheck.py"
