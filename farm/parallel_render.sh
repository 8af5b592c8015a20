#!/bin/bash
# Renders frames or bands of one frame with GNU parallel, over the local
# processors or over ssh hosts, then joins the bands.
#
#   farm/parallel_render.sh --frames A-B --out NAME [options] -- FURRENDER-OPTIONS
#   farm/parallel_render.sh --tiles N --out FILE [options] -- FURRENDER-OPTIONS
#
# --frames A-B   one job per frame; NAME needs a frame number (# or %04d)
# --tiles N      one job per band (furrender --tile I/N), then furtool
#                assemble joins them into FILE (.png)
# --jobs J       jobs at a time on each host (default: one per processor)
# --hosts LIST   ssh hosts for GNU parallel -S (e.g. ":,node1,node2"; ":" is
#                this machine); they must see the same paths (a shared
#                filesystem) and have furrender on their PATH or at --bin
# --bin DIR      where furrender and furtool are (default: found on PATH)
#
# FURRENDER-OPTIONS are the scene and picture options of furrender (without
# --out, --frame for --frames, or --tile). Every job draws on one process
# (--threads 1) since the jobs already fill the processors. The bands are
# written into a folder beside FILE, removed when the picture is joined.
set -euo pipefail

die() { echo "parallel_render: $*" >&2; exit 2; }

frames="" tiles="" out="" jobs="" hosts="" bin=""
while [ $# -gt 0 ]; do
    case $1 in
        --frames) frames=${2:?}; shift 2 ;;
        --tiles) tiles=${2:?}; shift 2 ;;
        --out) out=${2:?}; shift 2 ;;
        --jobs) jobs=${2:?}; shift 2 ;;
        --hosts) hosts=${2:?}; shift 2 ;;
        --bin) bin=${2:?}/; shift 2 ;;
        --) shift; break ;;
        *) die "unknown option $1 (the furrender options follow --)" ;;
    esac
done
[ -n "$out" ] || die "--out is required"
if [ -n "$frames" ] && [ -n "$tiles" ]; then die "give --frames or --tiles, not both"; fi
if [ -z "$frames" ] && [ -z "$tiles" ]; then die "give --frames A-B or --tiles N"; fi
command -v parallel >/dev/null || die "needs GNU parallel (package parallel)"

furrender=${bin}furrender
furtool=${bin}furtool
args=(--will-cite)
[ -n "$jobs" ] && args+=(--jobs "$jobs")
[ -n "$hosts" ] && args+=(-S "$hosts" --workdir "$PWD")
args+=(--halt now,fail=1 -q)

if [ -n "$frames" ]; then
    [[ $frames =~ ^([0-9]+)-([0-9]+)$ ]] || die "--frames: bad value \"$frames\""
    first=${BASH_REMATCH[1]} last=${BASH_REMATCH[2]}
    [ "$first" -le "$last" ] || die "--frames: $first is after $last"
    case $out in *'#'* | *%*d*) ;; *) die "--out needs a frame number (# or %04d): $out" ;; esac
    parallel "${args[@]}" "$furrender" --threads 1 --quiet "$@" --frame {} --out "$out" \
        ::: $(seq "$first" "$last")
    exit 0
fi

[[ $tiles =~ ^[1-9][0-9]*$ ]] || die "--tiles: bad value \"$tiles\""
ext=${out##*.}
bands=$(mktemp -d "$(dirname -- "$out")/.bands.XXXXXX")
trap 'rm -rf -- "$bands"' EXIT
parallel "${args[@]}" "$furrender" --threads 1 --quiet "$@" --tile {}/"$tiles" \
    --out "$bands/band.{}.$ext" ::: $(seq 0 $((tiles - 1)))
files=()
for ((i = 0; i < tiles; i++)); do files+=("$bands/band.$i.$ext"); done
"$furtool" assemble --out "$out" "${files[@]}"
