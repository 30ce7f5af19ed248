#!/usr/bin/env bash
# Times filter and bigfilt on a 1024 x 1024 image: installs the normal build (build/) into a
# temporary prefix, builds bench/planefilt_timing against it and runs it in a scratch directory.
# usage: bench/planefilt_timing.sh [build folder] [runs]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
runs=${2:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$top/bench/planefilt_timing" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$work/build" >/dev/null
mkdir "$work/run" && cd "$work/run"
"$work/build/planefilt_timing" "$runs"
