#!/bin/bash
# The farm scripts end to end on the e2e ball scene: the bands of a frame
# rendered through GNU parallel and through the Slurm script (with a
# stand-in sbatch) and joined, and frames rendered through GNU parallel,
# must give files byte-identical to single furrender runs.
#
#   tests/farm/farm_test.sh SOURCE_DIR BIN_DIR
set -eu
src=$1 bin=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$src/tests/data/e2e
scene=(--hair "$data/fur.hair" --assign "$data/fur.assign" --scene "$data/ball"
       --size 160x120 --subpixel 2 --background 0.1,0.2,0.3)
fail() { echo "FAIL: $*" >&2; exit 1; }

"$bin/furrender" "${scene[@]}" --quiet --threads 1 --out "$work/single.png"

# Bands over the local processors with GNU parallel.
"$src/farm/parallel_render.sh" --tiles 3 --out "$work/parallel.png" --bin "$bin" -- "${scene[@]}"
cmp "$work/single.png" "$work/parallel.png" || fail "GNU parallel bands differ from one run"
ls -A "$work" | grep -q '^\.bands' && fail "the bands' folder was left behind"

# Bands as a Slurm array job and its assemble job.
FAKE_SBATCH_LOG=$work/sbatch.log SBATCH="$src/tests/farm/fake_sbatch.sh" \
    "$src/farm/slurm_render.sh" --tiles 4 --out "$work/slurm.png" --bin "$bin" -- "${scene[@]}" \
    > "$work/slurm.out"
cmp "$work/single.png" "$work/slurm.png" || fail "Slurm bands differ from one run"
grep -q '^--array=0-3$' "$work/sbatch.log" || fail "no array of four tasks"
grep -q '^--dependency=afterok:' "$work/sbatch.log" || fail "assemble does not wait for the array"

# Frames with GNU parallel: one job per frame.
hidden=(--hair "$data/fur.hair" --assign "$data/fur.assign" --scene "$data/hidden" --size 160x120)
"$src/farm/parallel_render.sh" --frames 1-2 --out "$work/frames.#.png" --bin "$bin" -- "${hidden[@]}"
for f in 1 2; do
    "$bin/furrender" "${hidden[@]}" --quiet --frame $f --out "$work/one.png"
    cmp "$work/one.png" "$work/frames.$f.png" || fail "frame $f differs from one run"
done

# A band that fails stops the job with a failure.
if "$src/farm/parallel_render.sh" --tiles 2 --out "$work/bad.png" --bin "$bin" -- \
    "${scene[@]}" --subpixel 0 2> "$work/bad.err"; then
    fail "a failing band was not reported"
fi
[ ! -e "$work/bad.png" ] || fail "a picture was joined from failed bands"
echo "farm: all checks passed"
