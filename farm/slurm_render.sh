#!/bin/bash
# Submits a render to a Slurm cluster: an array job with one task per frame
# or per band of one frame, and for bands an assemble job that starts when
# every task of the array has succeeded.
#
#   farm/slurm_render.sh --frames A-B --out NAME [options] -- FURRENDER-OPTIONS
#   farm/slurm_render.sh --tiles N --out FILE [options] -- FURRENDER-OPTIONS
#
# --frames A-B    task I renders frame I; NAME needs a frame number (# or %04d)
# --tiles N       task I renders band I of N (furrender --tile I/N) into a
#                 folder beside FILE; then furtool assemble joins them into
#                 FILE (.png) and removes the folder
# --threads T     processors per task, given to furrender --threads and to
#                 sbatch --cpus-per-task (default 1)
# --bin DIR       where furrender and furtool are on the nodes (default PATH)
# --sbatch "ARGS" more sbatch options for every job (partition, time, ...)
#
# Paths must be the same on the nodes (a shared filesystem). Prints the job
# ids. SBATCH names the submit command (default sbatch).
set -euo pipefail

die() { echo "slurm_render: $*" >&2; exit 2; }

frames="" tiles="" out="" threads=1 bin="" more=""
while [ $# -gt 0 ]; do
    case $1 in
        --frames) frames=${2:?}; shift 2 ;;
        --tiles) tiles=${2:?}; shift 2 ;;
        --out) out=${2:?}; shift 2 ;;
        --threads) threads=${2:?}; shift 2 ;;
        --bin) bin=${2:?}/; shift 2 ;;
        --sbatch) more=${2:?}; shift 2 ;;
        --) shift; break ;;
        *) die "unknown option $1 (the furrender options follow --)" ;;
    esac
done
[ -n "$out" ] || die "--out is required"
if [ -n "$frames" ] && [ -n "$tiles" ]; then die "give --frames or --tiles, not both"; fi
if [ -z "$frames" ] && [ -z "$tiles" ]; then die "give --frames A-B or --tiles N"; fi
[[ $threads =~ ^[1-9][0-9]*$ ]] || die "--threads: bad value \"$threads\""
sbatch=${SBATCH:-sbatch}

# The furrender command of every task, quoted for the job's shell.
base=$(printf '%q ' "${bin}furrender" --threads "$threads" --quiet "$@")
# shellcheck disable=SC2086
submit() { $sbatch --parsable --cpus-per-task="$threads" $more "$@"; }

if [ -n "$frames" ]; then
    [[ $frames =~ ^([0-9]+)-([0-9]+)$ ]] || die "--frames: bad value \"$frames\""
    first=${BASH_REMATCH[1]} last=${BASH_REMATCH[2]}
    [ "$first" -le "$last" ] || die "--frames: $first is after $last"
    case $out in *'#'* | *%*d*) ;; *) die "--out needs a frame number (# or %04d): $out" ;; esac
    id=$(submit --job-name=furrender --array="$first-$last" \
        --wrap "$base --frame \$SLURM_ARRAY_TASK_ID --out $(printf '%q' "$out")")
    echo "frames: job $id"
    exit 0
fi

[[ $tiles =~ ^[1-9][0-9]*$ ]] || die "--tiles: bad value \"$tiles\""
ext=${out##*.}
bands=$(mktemp -d "$(dirname -- "$out")/.bands.XXXXXX")
qbands=$(printf '%q' "$bands")
id=$(submit --job-name=furrender-bands --array="0-$((tiles - 1))" \
    --wrap "$base --tile \$SLURM_ARRAY_TASK_ID/$tiles --out $qbands/band.\$SLURM_ARRAY_TASK_ID.$ext")
id=${id%%;*}
files=""
for ((i = 0; i < tiles; i++)); do files+=" $qbands/band.$i.$ext"; done
join=$(submit --job-name=furrender-assemble --dependency="afterok:$id" \
    --wrap "$(printf '%q ' "${bin}furtool" assemble --out "$out")$files && rm -rf $qbands")
echo "bands: job $id, assemble: job ${join%%;*}"
