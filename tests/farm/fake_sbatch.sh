#!/bin/bash
# A stand-in for sbatch in the farm test: runs the job at once, every task
# of an --array in turn with SLURM_ARRAY_TASK_ID set, and prints a job id as
# sbatch --parsable does. A failed task fails the submission, so a job that
# depends on it with afterok never runs. It records each submission's
# options in $FAKE_SBATCH_LOG.
set -eu
array="" wrap=""
for a in "$@"; do
    case $a in
        --array=*) array=${a#--array=} ;;
        --wrap) ;;
        --*) ;;
        *) wrap=$a ;;
    esac
    echo "$a" >> "${FAKE_SBATCH_LOG:-/dev/null}"
done
[ -n "$wrap" ] || { echo "fake sbatch: no --wrap" >&2; exit 1; }
if [ -n "$array" ]; then
    for ((i = ${array%-*}; i <= ${array#*-}; i++)); do
        SLURM_ARRAY_TASK_ID=$i bash -c "$wrap"
    done
else
    bash -c "$wrap"
fi
echo "$RANDOM"
