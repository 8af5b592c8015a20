#!/bin/sh
# Before and after on one and two processes: the demo at 640 x 480 with 16
# samples a pixel (sub-pixel 4, shaded surfaces), drawn by the furrender of
# two builds in interleaved rounds (base 1, after 1, base 2, after 2, then
# again), so that the load of a shared machine falls on both alike. Prints
# per run the longest path (furrender --verbose 1: the parent's serial work
# plus the longest band of every banded pass), the processor time of all
# processes (user + system, from /usr/bin/time -v), the wall time and the
# peak memory of the first process; then the means and the speed-up of two
# processes by the longest path. Every picture must be its build's
# one-process picture byte for byte, and hold the base build's pixels.
#
#   bench/threads_compare.sh BASE_BUILD AFTER_BUILD [ROUNDS]   (default 3)
#
# A build directory holds bin/furrender and lib/ (a copy of bin/ and lib/
# of a build made before a change will do).
set -eu

[ $# -ge 2 ] || { echo "usage: $0 BASE_BUILD AFTER_BUILD [ROUNDS]" >&2; exit 2; }
base=$1 after=$2 rounds=${3:-3}
for b in "$base" "$after"; do
    [ -x "$b/bin/furrender" ] || { echo "threads_compare: $b/bin/furrender is not built" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "threads_compare: needs /usr/bin/time (package time)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One run: build, processes, name. Appends "name path cpu wall rss" to runs.
run() {
    build=$1 threads=$2 name=$3
    LD_LIBRARY_PATH=$build/lib /usr/bin/time -v "$build/bin/furrender" \
        --hair examples/demo/demo.hair --assign examples/demo/demo.assign \
        --scene examples/demo/demo --frame 1 --size 640x480 --subpixel 4 --backface \
        --background 0.1,0.11,0.13 --surfaces --surface-color ball=0.45,0.3,0.2 \
        --surface-color ground=0.42,0.33,0.22 --threads "$threads" --verbose 1 --quiet \
        --out "$work/$name.png" > /dev/null 2> "$work/$name.err"
    awk -v name="$name" '
        /longest path/ { for (i = 1; i <= NF; i++) if ($i == "path") path = $(i + 1) }
        /User time/ { cpu += $NF }
        /System time/ { cpu += $NF }
        /Elapsed \(wall clock\)/ {
            k = split($NF, t, ":"); wall = 0
            for (i = 1; i <= k; i++) wall = wall * 60 + t[i]
        }
        /Maximum resident set size/ { rss = $NF }
        END { printf "%s %.3f %.2f %.2f %.1f\n", name, path, cpu, wall, rss / 1024 }' \
        "$work/$name.err" >> "$work/runs"
    # Each build's pictures are its first one-process picture byte for byte;
    # the after build's pixels are the base build's (its own PNG writer
    # coding the base picture again, through furtool assemble of one band,
    # gives its file).
    who=${name%%-*}
    if [ "$name" = after-1-1 ]; then
        LD_LIBRARY_PATH=$after/lib "$after/bin/furtool" assemble --out "$work/base-again.png" \
            "$work/base-1-1.png" > /dev/null 2>&1 || true
        cmp -s "$work/$name.png" "$work/base-again.png" || echo "$name: pixels differ from base"
    fi
    cmp -s "$work/$name.png" "$work/$who-1-1.png" || echo "$name: picture differs from $who, 1 process"
}

r=1
while [ "$r" -le "$rounds" ]; do
    for threads in 1 2; do
        run "$base" "$threads" "base-$threads-$r"
        run "$after" "$threads" "after-$threads-$r"
    done
    r=$((r + 1))
done

echo "demo at 640 x 480, sub-pixel 4, surfaces; $rounds interleaved rounds"
printf "%-14s %9s %9s %9s %9s\n" run "longest" "cpu" "wall" "peak MB"
awk '{ printf "%-14s %9.3f %9.2f %9.2f %9.1f\n", $1, $2, $3, $4, $5 }' "$work/runs"
awk '{
        split($1, k, "-"); key = k[1] "-" k[2]
        path[key] += $2; cpu[key] += $3; n[key]++
     }
     END {
        for (b = 1; b <= 2; b++) {
            who = b == 1 ? "base" : "after"
            one = path[who "-1"] / n[who "-1"]; two = path[who "-2"] / n[who "-2"]
            printf "%-6s mean longest path %.3f s (1) / %.3f s (2): x%.2f; mean cpu %.2f s / %.2f s\n",
                   who, one, two, one / two, cpu[who "-1"] / n[who "-1"], cpu[who "-2"] / n[who "-2"]
        }
     }' "$work/runs"
