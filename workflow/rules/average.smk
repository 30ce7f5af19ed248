# The average of every ok row with its two half-set averages (layermean), the maps of all
# three (besselmap) and the Fourier shell correlation of the halves, and of the average
# against a true map when the config names one (mapfsc). Each program writes into a fresh
# folder that is renamed into place when all of its files are there.

MAP = config.get("map", {})


rule average:
    input:
        f"{OUT}/alignments.tsv",
    output:
        avg=f"{OUT}/average/average.dat",
        half1=f"{OUT}/average/half1.dat",
        half2=f"{OUT}/average/half2.dat",
        log=f"{OUT}/average/layermean.txt",
    params:
        prog=program("layermean"),
    resources:
        mem_mb=res("average", "mem_mb", 2000),
        runtime=res("average", "runtime", 60),
    shell:
        """
        set -e
        d={OUT}/.average.tmp; rm -rf $d; mkdir -p $d
        {params.prog} --table {input} --repeat {config[repeat]} --output $d/average.dat \
          --halves $d/half1.dat $d/half2.dat --stats $d/stats.tsv > $d/layermean.txt
        rm -rf {OUT}/average; mv $d {OUT}/average
        """


rule map:
    input:
        f"{OUT}/average/{{name}}.dat",
    output:
        f"{OUT}/maps/{{name}}.map",
    wildcard_constraints:
        name="average|half1|half2",
    params:
        prog=program("besselmap"),
        size=" ".join(str(v) for v in MAP.get("size", [50, 25])),
        extra=MAP.get("options", ""),
    resources:
        mem_mb=res("map", "mem_mb", 2000),
        runtime=res("map", "runtime", 60),
    shell:
        """
        set -e
        d={OUT}/maps/.{wildcards.name}.tmp; rm -rf $d; mkdir -p $d
        {params.prog} --input {input} --map $d/map --repeat {config[repeat]} \
          --resolution {MAP[resolution]} --voxel {MAP[voxel]} --size {params.size} {params.extra} \
          > $d/besselmap.txt
        mv $d/map {output}; rm -rf $d
        """


rule fsc:
    input:
        a=f"{OUT}/maps/{{a}}.map",
        b=lambda w: MAP["truth"] if w.b == "truth" else f"{OUT}/maps/{w.b}.map",
    output:
        table=f"{OUT}/maps/fsc_{{a}}_{{b}}.tsv",
        log=f"{OUT}/maps/fsc_{{a}}_{{b}}.txt",
    params:
        prog=program("mapfsc"),
        extra=lambda w: MAP.get("fsc_options", "") + " " + (MAP.get("truth_fsc_options", "") if w.b == "truth" else ""),
    resources:
        mem_mb=res("map", "mem_mb", 2000),
        runtime=res("map", "runtime", 60),
    shell:
        """
        set -e
        {params.prog} {input.a} {input.b} --table {output.table}.tmp {params.extra} > {output.log}.tmp
        mv {output.log}.tmp {output.log}; mv {output.table}.tmp {output.table}
        """


localrules:
    fsc_halves,


rule fsc_halves:
    input:
        f"{OUT}/maps/fsc_half1_half2.tsv",
    output:
        f"{OUT}/maps/fsc_halves.tsv",
    shell:
        "cp {input} {output}.tmp && mv {output}.tmp {output}"
