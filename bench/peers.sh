#!/usr/bin/env bash
# Whole-command comparison with ImageMagick's sketch effect on the same
# picture, measured in one run (median of N runs each). Installs ImageMagick
# from Debian when it is missing.
#   bench/peers.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
RUNS=${2:-3}
scripts/install-deps.sh bench
CLI="$BUILD/cli/lumaquill-cli"
[ -x "$CLI" ] || { echo "build first: make build" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A one-megapixel photograph (1155 x 866) resampled from the bundled coffee picture.
convert resources/photos/coffee.png -resize 1155x866! "$work/in.png"

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
timeit() {
  for _ in $(seq "$RUNS"); do
    local s e
    s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N)
    echo "$e - $s" | bc -l
  done | median
}

ours=$(timeit "$CLI" apply PencilSketch1 "$work/in.png" -o "$work/ours.png")
theirs=$(timeit convert "$work/in.png" -sketch 0x20+120 "$work/theirs.png")
printf 'Pencil Sketch 1, 1 MP, whole command (median of %s):\n' "$RUNS"
printf '  lumaquill-cli apply PencilSketch1   %8.3f s\n' "$ours"
printf '  convert -sketch 0x20+120            %8.3f s\n' "$theirs"
printf '  ratio (ImageMagick / ours)          %8.1fx\n' "$(echo "$theirs / $ours" | bc -l)"
