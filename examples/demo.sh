#!/usr/bin/env bash
# The demo analysis: runs the suite's programs on the example data of this folder in a scratch
# directory and shows what they write. Argument: the folder of the built programs.
set -euo pipefail
bin=${1:?usage: demo.sh <bin folder>}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "== quorvan: the release of the suite"
"$bin/quorvan"

# Each further step runs only when its program has been built.
for step in "$here"/demo.d/*.sh; do
  [ -e "$step" ] || continue
  # shellcheck source=/dev/null
  source "$step"
done
echo "== demo finished"
