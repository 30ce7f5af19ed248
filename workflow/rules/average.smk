# The average of every ok row with its two half-set averages (layermean; with the orders
# separated also separated-*.dat from the particles sampled with the whole deck, which the
# maps are made from), the maps of all three (besselmap) and the Fourier shell correlation of the halves, and of the average
# against a true map when the config names one (mapfsc). Each stage writes into a fresh
# folder whose files are moved into place when all of them are there.

MAP = config.get("map", {})


rule average:
    input:
        table=f"{OUT}/alignments.tsv",
        limits=rules.check.output.limits,
    output:
        avg=f"{OUT}/average/average.dat",
        half1=f"{OUT}/average/half1.dat",
        half2=f"{OUT}/average/half2.dat",
        log=f"{OUT}/average/layermean.txt",
        separated=expand(f"{OUT}/average/separated-{{name}}.dat", name=["average", "half1", "half2"]),
    params:
        prog=program("layermean"),
        ctf=" ".join(quorvan_wf.layermean_ctf_options(config)),
        separate=separation_options(),
    resources:
        mem_mb=res("average", "mem_mb", 2000),
        runtime=res("average", "runtime", 60),
    shell:
        """
        set -e
        d={OUT}/.average.tmp; rm -rf $d; mkdir -p $d
        {params.prog} --table {input.table} --repeat {config[repeat]} --output $d/average.dat \
          --halves $d/half1.dat $d/half2.dat --stats $d/stats.tsv {params.ctf} > $d/layermean.txt
        D=$d
        # With the orders separated (the check's limits say so), the average of the particles
        # sampled with the whole deck, one block per order, for the maps; otherwise the same
        # files as the mean.
        if [ "$(awk -F'\t' '$1 == "separation" {{print $2}}' {input.limits})" = on ]; then
          {PY} {SCRIPTS}/full_table.py {input.table} $D/full.tsv
          {params.prog} --table $D/full.tsv --repeat {config[repeat]} --output $D/separated-average.dat \
            --halves $D/separated-half1.dat $D/separated-half2.dat --stats $D/separated-stats.tsv {params.ctf} \
            {params.separate} > $D/separated.txt
        else
          for n in average half1 half2; do cp $D/$n.dat $D/separated-$n.dat; done
        fi
        rm -rf {OUT}/average; mv $d {OUT}/average
        """


def maps_outputs():
    out = {n: f"{OUT}/maps/{n}.map" for n in ("average", "half1", "half2")}
    out["halves"] = f"{OUT}/maps/fsc_half1_half2.tsv"
    out["halves_log"] = f"{OUT}/maps/fsc_half1_half2.txt"
    out["halves_copy"] = f"{OUT}/maps/fsc_halves.tsv"
    if MAP.get("truth"):
        out["truth"] = f"{OUT}/maps/fsc_average_truth.tsv"
        out["truth_log"] = f"{OUT}/maps/fsc_average_truth.txt"
    return out


# One job makes the three maps side by side and then their curves: each of these programs
# takes a fraction of a second, less than the scheduling of a job of its own costs, and the
# steps after the last chunk are the run's serial tail.
rule maps:
    input:
        data=expand(f"{OUT}/average/separated-{{name}}.dat", name=["average", "half1", "half2"]),
        truth=[MAP["truth"]] if MAP.get("truth") else [],
        limits=rules.check.output.limits,
    output:
        **maps_outputs(),
    params:
        besselmap=program("besselmap"),
        mapfsc=program("mapfsc"),
        size=" ".join(str(v) for v in MAP.get("size", [50, 25])),
        extra=MAP.get("options", ""),
        fsc_extra=MAP.get("fsc_options", ""),
        truth_extra=MAP.get("truth_fsc_options", ""),
        truth=MAP.get("truth") or "",
        llplot=LLPLOT,
    threads: 2
    resources:
        mem_mb=res("map", "mem_mb", 2000),
        runtime=res("map", "runtime", 60),
    shell:
        """
        set -e
        d={OUT}/.maps.tmp; rm -rf $d; mkdir -p $d
        # The resolution the check left: the config's, or lower where a layer line carries a
        # second Bessel order; only the layer lines within it go into the maps.
        res=$(awk -F'\t' '$1 == "resolution" {{print $2}}' {input.limits})
        pids=""
        for n in average half1 half2; do
          {PY} {SCRIPTS}/keep_layer_lines.py --limits {input.limits} --repeat {config[repeat]} \
            {OUT}/average/separated-$n.dat $d/$n.in.dat
          {params.besselmap} --input $d/$n.in.dat --map $d/$n.map --repeat {config[repeat]} \
            --resolution $res --voxel {MAP[voxel]} --size {params.size} {params.extra} \
            > $d/besselmap-$n.txt 2> $d/besselmap-$n.err &
          pids="$pids $!"
        done
        # Their messages one whole line each, named by the map, once all three have ended.
        failed=0
        set -- $pids
        for n in average half1 half2; do
          if ! wait $1; then failed=1; fi
          sed "s/^/maps ($n map): /" $d/besselmap-$n.err >&2
          shift
        done
        [ $failed = 0 ]
        {params.mapfsc} $d/half1.map $d/half2.map --table $d/fsc_half1_half2.tsv {params.fsc_extra} \
          > $d/fsc_half1_half2.txt &
        p=$!
        if [ -n "{params.truth}" ]; then
          {params.mapfsc} $d/average.map {params.truth} --table $d/fsc_average_truth.tsv {params.fsc_extra} \
            {params.truth_extra} > $d/fsc_average_truth.txt
        fi
        wait $p
        # The report's pictures of the map and of the curves (map.png, fsc.png), side by side;
        # a picture that cannot be drawn is only missing.
        plot() {{ if [ -f "{params.llplot}" ]; then (cd $d && /usr/bin/python3 "{params.llplot}" "$@") \
          >/dev/null 2>&1 || true; fi; }}
        plot --map average.map -o map &
        q=$!
        plot --fsc $(cd $d && ls fsc_*_*.tsv) -o fsc
        wait $q
        cp $d/fsc_half1_half2.tsv $d/fsc_halves.tsv
        mkdir -p {OUT}/maps
        shopt -s nullglob
        for f in $d/*.png $d/*.svg $d/*.txt $d/*.tsv $d/*.map; do mv $f {OUT}/maps/; done
        rm -rf $d
        """
