# The check before any job: the config, the deck, the reference and one particle header per
# distinct file size. A run that cannot be right stops here with one line per reason; warnings
# go into check/summary.txt (and the report) and on standard error. Every alignment samples
# with the deck the check leaves, cut to the radii where each layer line is single-order.


rule check:
    input:
        deck=config["deck"],
    output:
        summary=f"{OUT}/check/summary.txt",
        deck=f"{OUT}/check/sidesplit.dek",
        limits=f"{OUT}/check/limits.tsv",
    resources:
        mem_mb=res("check", "mem_mb", 500),
        runtime=res("check", "runtime", 10),
    script:
        "../scripts/runcheck.py"
