# Gold-standard refinement in rounds. The particles are split into two halves once, before
# the first round, and the split is kept. Round 1 aligns every particle against the given
# reference, compared only within initial_resolution; each later round aligns every side
# against the average of its own half from the round before, its search narrowed around its
# previous answer, at full resolution. The halves never meet after round 1, so the FSC of
# their maps measures what the data hold, not how well they agree with one reference.
#
#   round 1:    chunks/{chunk}.tsv                 (align_chunk: helixft, sidesplit, gridscan)
#   round r:    rounds/{r}/chunks/{chunk}.tsv      (realign_chunk: gridscan --around; with the
#               orders separated, the whole-deck sides against the separated half averages,
#               gridscan --model)
#   each round: rounds/{r}/alignments.tsv          (table, the sides judged)
#   before the last: rounds/{r}/average/half{1,2}.dat, the next round's references, and
#               rounds/{r}/maps/ with the half-set FSC of the round (its maps made from
#               average/separated-*.dat: the orders separated when the check turned that on,
#               else copies of the averages)
#   the last:   alignments.tsv, average/, maps/ as the run's results
# Every round's outputs stay, so a run killed in round r resumes there.


def _whole_number(key, value, least):
    if isinstance(value, bool) or not isinstance(value, (int, float)) or value != int(value) or value < least:
        _fail(f"{key}: a whole number of at least {least}, not {value!r}")
    return int(value)


def _positive(key, value):
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not value > 0:
        _fail(f"{key}: a number above 0, not {value!r}")
    return float(value)


ROUNDS = _whole_number("rounds", config.get("rounds", 3), 1)
INITIAL_RESOLUTION = _positive("initial_resolution", config.get("initial_resolution", 20))
if map_enabled() and INITIAL_RESOLUTION < float(config.get("map", {}).get("resolution", 0)):
    _fail(f"initial_resolution: {INITIAL_RESOLUTION:g} A is finer than the maps' resolution "
          f"(map: resolution: {config['map']['resolution']} A); round 1 would compare what the maps cannot hold")
ACCEPT = config.get("acceptance") or {}
SIGNIFICANCE = _positive("acceptance: significance", ACCEPT.get("significance", 6))
OUTLIER_K = _positive("acceptance: outlier_k", ACCEPT.get("outlier_k", 3))
POLARITY_MARGIN = _positive("acceptance: polarity_margin", ACCEPT.get("polarity_margin", 3))
THRESHOLD = config.get("residual_threshold")
if THRESHOLD in ("", "off", False):
    THRESHOLD = None
if THRESHOLD is not None:
    THRESHOLD = _positive("residual_threshold", THRESHOLD)
POLARITY = str(config.get("gridscan", {}).get("polarity", "both"))
if POLARITY not in ("same", "opposite", "both"):
    _fail(f'gridscan: polarity: "same", "opposite" or "both", not "{POLARITY}"')


def particle_filaments():
    """The filament of every particle when the particle table (or the STAR file) gives one."""
    if not any(r.get("filament") not in (None, "", "-") for r in ROWS):
        return None
    return [r.get("filament") for r in ROWS]


HALVES = quorvan_wf.split_halves(NAMES, particle_filaments())
for _h in (1, 2):
    if _h not in HALVES.values():
        _fail(f"particles: half {_h} would be empty ({len(NAMES)} particle(s)"
              + (", all in one filament" if len(NAMES) > 1 else "") + "); two halves need two particles or filaments")


def search_options(round_):
    """The options of every alignment job of a round."""
    opts = (f"--repeat {config['repeat']} --layer-lines {GS['layer_lines']} --delbr {GS['delbr']}"
            f" --weight {GS['weight']} --polarity-margin {POLARITY_MARGIN:g} --bin '{config.get('bin') or ''}'")
    if round_ == 1 and ROUNDS > 1:
        opts += f" --resolution {INITIAL_RESOLUTION:g}"
    if THRESHOLD is not None:
        opts += f" --threshold {THRESHOLD:g}"
    return opts


def search_polarity(round_):
    """Whether a round decides again the polarity of the particles whose sides came in
    different polarities: from round 3 the averages come from refined alignments and tell the
    polarities apart where round 1's low-resolution reference could not."""
    return int(round_) >= 3 and POLARITY == "both"


def round_chunk_tables(round_):
    if int(round_) == 1:
        return expand(f"{OUT}/chunks/{{chunk}}.tsv", chunk=CHUNKS)
    return expand(f"{OUT}/rounds/{round_}/chunks/{{chunk}}.tsv", chunk=CHUNKS)


def round_fsc_logs():
    """The half-set FSC report of every round, the last round's from the run's maps."""
    logs = [f"{OUT}/rounds/{r}/maps/fsc_half1_half2.txt" for r in range(1, ROUNDS)]
    return logs + [f"{OUT}/maps/fsc_half1_half2.txt"]


wildcard_constraints:
    round=r"\d+",


localrules:
    split,
    frame,


# How firmly the reference fixes the maps' frame within what round 1 compares (frame.py); the
# report says so when it leaves a screw motion free.
rule frame:
    input:
        rules.reference.output,
    output:
        f"{OUT}/reference/frame.txt",
    params:
        resolution=f"--resolution {INITIAL_RESOLUTION:g}" if ROUNDS > 1 else "",
    shell:
        "{PY} {SCRIPTS}/frame.py --reference {input} --layer-lines {GS[layer_lines]} --repeat {config[repeat]}"
        " {params.resolution} --output {output}"


rule split:
    output:
        f"{OUT}/halves.tsv",
    params:
        text="particle\thalf\n" + "".join(f"{n}\t{HALVES[n]}\n" for n in NAMES),
    run:
        quorvan_wf.write_atomic(output[0], params.text)


rule round_table:
    input:
        chunks=lambda w: round_chunk_tables(w.round),
        halves=f"{OUT}/halves.tsv",
        frame=lambda w: [f"{OUT}/rounds/1/alignments.tsv"] if int(w.round) > 1 else [],
        reference=rules.reference.output,
    output:
        table=f"{OUT}/rounds/{{round}}/alignments.tsv",
        motion=f"{OUT}/rounds/{{round}}/halves_motion.txt",
    params:
        u=config["rule"][0],
        t=config["rule"][1],
        # the halves' averages are the next round's references, or the run's result
        need=lambda w: "--need-halves" if int(w.round) < ROUNDS or average_enabled() else "",
        options=lambda w: search_options(0),
        # the data set held in the reference's frame within what round 1 compared
        anchor=f"--anchor-resolution {INITIAL_RESOLUTION:g}" if ROUNDS > 1 else "",
        ctf=" ".join(quorvan_wf.layermean_ctf_options(config)),
    resources:
        mem_mb=res("table", "mem_mb", 1000),
        runtime=res("table", "runtime", 10),
    # The table is joined and judged, then half 2 is brought into half 1's frame
    # (match_halves: one gridscan of the two half averages) when both halves are there, and
    # the whole data set held in the reference's frame where the reference can tell.
    shell:
        "{PY} {SCRIPTS}/make_table.py --output {output.table}.unmatched --refused {output.table}.refused"
        " --rule {params.u} {params.t} {params.need}"
        " --repeat {config[repeat]} --halves {input.halves}"
        " $(for f in {input.frame}; do echo --frame $f --frame-halves 1; done)"
        f" --accept {SIGNIFICANCE:g} {OUTLIER_K:g}"
        + (f" --particle-table '{PARTICLE_TABLE}'" if config.get("ctf") else "")
        + " {input.chunks}"
        " && {PY} {SCRIPTS}/match_halves.py --table {output.table}.unmatched --output {output.table}"
        " --motion {output.motion} --rule {params.u} {params.t} --layermean-args '{params.ctf}'"
        " --reference {input.reference} {params.anchor}"
        " {params.options} --names -"


rule final_table:
    input:
        f"{OUT}/rounds/{ROUNDS}/alignments.tsv",
    output:
        f"{OUT}/alignments.tsv",
    resources:
        mem_mb=res("table", "mem_mb", 1000),
        runtime=res("table", "runtime", 10),
    shell:
        "{PY} -c 'import sys; sys.path.insert(0, sys.argv[1]); import quorvan_wf as w; w.rebase_table(*sys.argv[2:])'"
        " {SCRIPTS} {input} {output}"


rule realign_chunk:
    input:
        previous=lambda w: f"{OUT}/rounds/{int(w.round) - 1}/alignments.tsv",
        references=lambda w: [f"{OUT}/rounds/{int(w.round) - 1}/average/half{h}.dat" for h in (1, 2)],
        models=lambda w: [f"{OUT}/rounds/{int(w.round) - 1}/average/separated-half{h}.dat" for h in (1, 2)],
        limits=rules.check.output.limits,
    output:
        f"{OUT}/rounds/{{round}}/chunks/{{chunk}}.tsv",
    params:
        names=lambda w: ",".join(NAMES[int(w.chunk) * CHUNK : (int(w.chunk) + 1) * CHUNK]),
        # from round 3 a particle whose sides came in different polarities is decided again
        options=lambda w: search_options(int(w.round)) + (" --search-polarity" if search_polarity(w.round) else ""),
        use_models="yes" if SEPARATION_MODELS else "no",
    # No group: a group that held chunks of two rounds (or of round 1) would depend on itself
    # through the tables and averages between them; a later round's chunk is light enough to
    # be a job of its own.
    threads: 1
    resources:
        mem_mb=res("align", "mem_mb", 500),
        runtime=res("align", "runtime", 60),
    # With the orders separated (the check's limits say so) and separation_models on, each
    # side's whole-deck sample is aligned against its half's separated average
    # (realign_chunk --models); else the single-order sides against the one-order average.
    shell:
        "models=; if [ {params.use_models} = yes ] &&"
        " [ \"$(awk -F'\t' '$1 == \"separation\" {{print $2}}' {input.limits})\" = on ]; then"
        " models='--models {input.models}'; fi;"
        " {PY} {SCRIPTS}/realign_chunk.py --table {output} --previous {input.previous}"
        " --references {input.references} $models {params.options} --names {params.names}"
        " --rule {config[rule][0]} {config[rule][1]}"


# The averages of a round before the last: the next round's references.
rule round_average:
    input:
        table=f"{OUT}/rounds/{{round}}/alignments.tsv",
        limits=rules.check.output.limits,
    output:
        avg=f"{OUT}/rounds/{{round}}/average/average.dat",
        half1=f"{OUT}/rounds/{{round}}/average/half1.dat",
        half2=f"{OUT}/rounds/{{round}}/average/half2.dat",
        log=f"{OUT}/rounds/{{round}}/average/layermean.txt",
        separated=expand(f"{OUT}/rounds/{{{{round}}}}/average/separated-{{name}}.dat",
                         name=["average", "half1", "half2"]),
    params:
        prog=program("layermean"),
        d=lambda w: f"{OUT}/rounds/{w.round}/average",
        ctf=" ".join(quorvan_wf.layermean_ctf_options(config)),
        separate=separation_options(),
    resources:
        mem_mb=res("average", "mem_mb", 2000),
        runtime=res("average", "runtime", 60),
    shell:
        """
        set -e
        d={params.d}; rm -rf $d.tmp; mkdir -p $d.tmp
        {params.prog} --table {input.table} --repeat {config[repeat]} --output $d.tmp/average.dat \
          --halves $d.tmp/half1.dat $d.tmp/half2.dat --stats $d.tmp/stats.tsv {params.ctf} > $d.tmp/layermean.txt
        D=$d.tmp
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
        rm -rf $d; mv $d.tmp $d
        """


# The half-set FSC of a round before the last (and the average's against a true map).
rule round_maps:
    input:
        data=lambda w: [f"{OUT}/rounds/{w.round}/average/separated-{n}.dat" for n in ("average", "half1", "half2")],
        truth=[MAP["truth"]] if MAP.get("truth") else [],
        limits=rules.check.output.limits,
    output:
        halves=f"{OUT}/rounds/{{round}}/maps/fsc_half1_half2.tsv",
        halves_log=f"{OUT}/rounds/{{round}}/maps/fsc_half1_half2.txt",
    params:
        besselmap=program("besselmap"),
        mapfsc=program("mapfsc"),
        size=" ".join(str(v) for v in MAP.get("size", [50, 25])),
        extra=MAP.get("options", ""),
        fsc_extra=MAP.get("fsc_options", ""),
        truth_extra=MAP.get("truth_fsc_options", ""),
        truth=MAP.get("truth") or "",
        d=lambda w: f"{OUT}/rounds/{w.round}/maps",
        a=lambda w: f"{OUT}/rounds/{w.round}/average",
    threads: 2
    resources:
        mem_mb=res("map", "mem_mb", 2000),
        runtime=res("map", "runtime", 60),
    shell:
        """
        set -e
        d={params.d}; rm -rf $d.tmp; mkdir -p $d.tmp
        names="half1 half2"; [ -n "{params.truth}" ] && names="average $names"
        # the resolution and the layer lines the check left, as for the run's maps
        res=$(awk -F'\t' '$1 == "resolution" {{print $2}}' {input.limits})
        pids=""
        for n in $names; do
          {PY} {SCRIPTS}/keep_layer_lines.py --limits {input.limits} --repeat {config[repeat]} \
            {params.a}/separated-$n.dat $d.tmp/$n.in.dat
          {params.besselmap} --input $d.tmp/$n.in.dat --map $d.tmp/$n.map --repeat {config[repeat]} \
            --resolution $res --voxel {MAP[voxel]} --size {params.size} {params.extra} \
            > $d.tmp/besselmap-$n.txt 2> $d.tmp/besselmap-$n.err &
          pids="$pids $!"
        done
        failed=0
        set -- $pids
        for n in $names; do
          if ! wait $1; then failed=1; fi
          sed "s/^/round_maps (round {wildcards.round}, $n map): /" $d.tmp/besselmap-$n.err >&2
          shift
        done
        [ $failed = 0 ]
        rm -f $d.tmp/*.in.dat
        {params.mapfsc} $d.tmp/half1.map $d.tmp/half2.map --table $d.tmp/fsc_half1_half2.tsv {params.fsc_extra} \
          > $d.tmp/fsc_half1_half2.txt
        if [ -n "{params.truth}" ]; then
          {params.mapfsc} $d.tmp/average.map {params.truth} --table $d.tmp/fsc_average_truth.tsv {params.fsc_extra} \
            {params.truth_extra} > $d.tmp/fsc_average_truth.txt
        fi
        rm -f $d.tmp/*.map
        rm -rf $d; mv $d.tmp $d
        """
