# The report folder: a summary text, plots and one static index.html that shows them with
# the table.


def report_inputs(wildcards):
    files = {"table": f"{OUT}/alignments.tsv", "check": rules.check.output.summary,
             "frame": f"{OUT}/reference/frame.txt"}
    if average_enabled():
        files["average"] = f"{OUT}/average/layermean.txt"
    if map_enabled():
        files["map"] = f"{OUT}/maps/average.map"
        files["fsc"] = f"{OUT}/maps/fsc_half1_half2.txt"
        if MAP.get("truth"):
            files["truth"] = f"{OUT}/maps/fsc_average_truth.txt"
        files["rounds_fsc"] = round_fsc_logs()
    files["rounds"] = [f"{OUT}/rounds/{r}/alignments.tsv" for r in range(1, ROUNDS + 1)]
    return files


rule report:
    input:
        unpack(report_inputs),
    output:
        html=f"{OUT}/report/index.html",
        summary=f"{OUT}/report/summary.txt",
    params:
        llplot=LLPLOT,
        threshold="off" if THRESHOLD is None else f"{THRESHOLD:g}",
        sides=f"--side-threshold {config['side_threshold']}" if config.get("side_threshold") is not None else "",
        resolution=f"--resolution {MAP['resolution']}" if map_enabled() else "",
    resources:
        mem_mb=res("report", "mem_mb", 2000),
        runtime=res("report", "runtime", 30),
    shell:
        "{PY} {SCRIPTS}/report.py --output {OUT}/report --results {OUT} --llplot {params.llplot}"
        " --threshold {params.threshold} {params.resolution} --rounds {ROUNDS}"
        " --polarity-margin {POLARITY_MARGIN} {params.sides}"
