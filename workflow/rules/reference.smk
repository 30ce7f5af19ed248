# The reference's near side: taken as it is when the config names a layer-line file (.dat),
# otherwise sampled from its transform (helixft first for an image) with the particles' deck.


rule reference:
    input:
        ref=config["reference"],
        deck=rules.check.output.deck,
    output:
        f"{OUT}/reference/near.dat",
    params:
        kind="dat" if str(config["reference"]).endswith(".dat") else config["input"],
        helixft=program("helixft"),
        sidesplit=program("sidesplit"),
        ftargs=config.get("helixft_options", ""),
    resources:
        mem_mb=res("reference", "mem_mb", 500),
        runtime=res("reference", "runtime", 10),
    shell:
        """
        set -e
        out=$(dirname {output}); rm -rf "$out.tmp"; mkdir -p "$out.tmp"
        ref=$(realpath {input.ref}); deck=$(realpath {input.deck})
        if [ {params.kind} = dat ]; then
          cp "$ref" "$out.tmp/near.dat"
        else
          cd "$out.tmp"
          if [ {params.kind} = images ]; then
            {params.helixft} --image "$ref" --transform transform.map {params.ftargs} > helixft.log
            ref=transform.map
          fi
          ln -s "$deck" sidesplit.dek
          IN="$ref" {params.sidesplit} > sidesplit.log
          cd - > /dev/null
        fi
        mv "$out.tmp/near.dat" {output}.tmp && mv {output}.tmp {output} && rm -rf "$out.tmp"
        """
