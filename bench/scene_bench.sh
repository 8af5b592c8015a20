#!/bin/sh
# Scene benchmark: furrender on the demo scene at 1280 x 720 (sub-pixel 2),
# with and without its shadow maps, then on the same scene with its
# densities scaled to 100 000 and 1 000 000 hairs (and 3 000 000 with
# BENCH_3M=1, several minutes), then one frame of the rolling ball at
# 640 x 480 (sub-pixel 2) still and motion-blurred. Reports wall time, hairs
# per second and peak memory (from /usr/bin/time -v), the time of each shadow
# pass and of the final render; the rolling frames their processor time as
# well. These runs draw on one process (--threads 1).
#
# Last, the demo as `make demo` draws it but at 640 x 480 with 16 samples a
# pixel (sub-pixel 4, shaded surfaces) on 1, 2 and all processes: wall and
# processor time (the workers' included), the longest path (this process's
# serial work plus the longest band of every banded pass, as furrender
# --verbose reports it) and the speed-up it gives over one process, hairs
# and covered sample-fragments (from one --count-fragments run) per second
# of wall time, and the peak memory of the first process; then the hair
# alone (no surfaces) on 1 and 2 processes. Before those, the machine's
# memory copy and arithmetic rates alone and two at once (bench/host_bench),
# since two processes sharing the memory bus bound the speed-up.
#
#   bench/scene_bench.sh [build directory]     (default: build)
set -eu

build=${1:-build}
renderer=$build/bin/furrender
[ -x "$renderer" ] || { echo "scene_bench: $renderer is not built" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "scene_bench: needs /usr/bin/time (package time)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The figures of /usr/bin/time -v, as awk rules: wall (seconds), cpu (user
# plus system seconds) and rss (peak, kilobytes).
time_rules='
    /User time/ { cpu += $NF }
    /System time/ { cpu += $NF }
    /Elapsed \(wall clock\)/ {
        k = split($NF, t, ":"); wall = 0
        for (i = 1; i <= k; i++) wall = wall * 60 + t[i]
    }
    /Maximum resident set size/ { rss = $NF }'

# A scaled scene: every density of the demo times N / its total.
scaled() {
    awk -v want="$1" '
        /^[ \t]*density[ \t]*=/ { n++; line[n] = $0; d[n] = $3 + 0; total += d[n]; next }
        { n++; line[n] = $0 }
        END {
            for (i = 1; i <= n; i++) {
                if (i in d) {
                    scaled = int(d[i] * want / total + 0.5)
                    sub(/=.*/, "= " scaled " ;", line[i])
                }
                print line[i]
            }
        }' examples/demo/demo.hair > "$work/$2.hair"
}
scaled 100000 100k
scaled 1000000 1m
[ "${BENCH_3M:-0}" = 1 ] && scaled 3000000 3m

# One render: name, hair file, more options. Prints one line of figures,
# and one line per shadow pass. The hairs counted are those of the final
# render (each shadow pass grows them again).
run() {
    name=$1 hair=$2
    shift 2
    /usr/bin/time -v "$renderer" --hair "$hair" --assign examples/demo/demo.assign \
        --scene examples/demo/demo --frame 1 --size 1280x720 --subpixel 2 --backface \
        --verbose 1 --threads 1 --out "$work/$name.png" "$@" > "$work/$name.out" 2> "$work/$name.time"
    awk -v name="$name" '
        /total hairs/ { hairs = $3 }
        /shadow map of light|final render in/ { pass[++passes] = $0 }
'"$time_rules"'
        END {
            printf "%-10s %10d hairs  %8.2f s  %10.0f hairs/s  %8.1f MB peak\n",
                   name, hairs, wall, hairs / wall, rss / 1024
            for (i = 1; i <= passes; i++) {
                sub(/^furrender: frame [0-9]+: /, "", pass[i])
                printf "%-10s   %s\n", "", pass[i]
            }
        }' "$work/$name.out" "$work/$name.time"
}

echo "furrender, demo scene at 1280 x 720, sub-pixel 2"
run demo examples/demo/demo.hair
run noshadows examples/demo/demo.hair --no-shadows
run 100k "$work/100k.hair"
run 1m "$work/1m.hair"
if [ "${BENCH_3M:-0}" = 1 ]; then run 3m "$work/3m.hair"; fi

# One frame of the rolling ball: name, extra options.
run_rolling() {
    name=$1
    shift
    /usr/bin/time -v "$renderer" --hair examples/rolling/rolling.hair \
        --assign examples/rolling/rolling.assign --scene examples/rolling/rolling \
        --frame 2 --size 640x480 --subpixel 2 --backface --threads 1 --out "$work/$name.png" "$@" \
        > "$work/$name.out" 2> "$work/$name.time"
    awk -v name="$name" '
        /total hairs/ { hairs = $3 }
'"$time_rules"'
        END {
            printf "%-10s %10d hairs  %8.2f s  %8.2f s cpu  %8.1f MB peak\n",
                   name, hairs, wall, cpu, rss / 1024
        }' "$work/$name.out" "$work/$name.time"
}

echo "furrender, rolling ball frame 2 at 640 x 480, sub-pixel 2"
run_rolling still
run_rolling blurred --motion-blur --close-scene examples/rolling/rolling_close

# The demo at sub-pixel 4 on N processes: name, N, more options; with the
# surfaces shaded unless surfaces is empty.
surfaces="--surfaces --surface-color ball=0.45,0.3,0.2 --surface-color ground=0.42,0.33,0.22"
demo4() {
    name=$1 threads=$2
    shift 2
    # shellcheck disable=SC2086 # the surface options are words
    /usr/bin/time -v "$renderer" --hair examples/demo/demo.hair --assign examples/demo/demo.assign \
        --scene examples/demo/demo --frame 1 --size 640x480 --subpixel 4 --backface \
        --background 0.1,0.11,0.13 $surfaces --threads "$threads" --out "$work/$name.png" "$@" \
        > "$work/$name.out" 2> "$work/$name.time"
}

# The covered sample-fragments of the frame (the same on any number of
# processes).
demo4 count 2 --quiet --count-fragments
fragments=$(awk '/covered sample-fragments/ { print $4 }' "$work/count.time")

run_threads() {
    name=$1 threads=$2
    demo4 "$name" "$threads" --verbose 1
    awk -v name="$name" -v fragments="$fragments" -v one="${one_path:-0}" '
        /total hairs/ { hairs = $3 }
        /longest path/ { for (i = 1; i <= NF; i++) if ($i == "path") path = $(i + 1) }
'"$time_rules"'
        END {
            if (one == 0) one = path
            printf "%-10s %8d hairs %7.2f s wall %7.2f s cpu %6.2f s longest (x%.2f) " \
                   "%9.0f hairs/s %11.0f fragments/s %7.1f MB peak\n",
                   name, hairs, wall, cpu, path, one / path, hairs / wall, fragments / wall,
                   rss / 1024
        }' "$work/$name.out" "$work/$name.time"
}

# The machine's memory copy and arithmetic, alone and two at once: the
# renderer waits mostly on memory, so where two copies slow each other the
# bands of two processes do too.
host_rate() {
    "$build/bin/host_bench" --benchmark_filter="$1" --benchmark_min_time=1 \
        --benchmark_format=csv 2> /dev/null |
        awk -F, '/BM_/ { print ($6 != "" ? $6 / 1e9 : $7 / 1e6) }'
}
if [ -x "$build/bin/host_bench" ]; then
    for kind in MemoryCopy Compute; do
        alone=$(host_rate "$kind")
        pair=$( (host_rate "$kind" & host_rate "$kind"; wait) | tr '\n' ' ')
        echo "$kind $alone $pair" | awk 'NF == 4 && $2 > 0 {
            unit = $1 == "MemoryCopy" ? "GB/s" : "M steps/s"
            printf "host %-10s %8.2f %s alone, %.2f and %.2f %s two at once (each x%.2f)\n",
                   $1, $2, unit, $3, $4, unit, ($3 + $4) / 2 / $2 }'
    done
fi

cores=$(nproc 2>/dev/null || echo 1)
echo "furrender, demo at 640 x 480, sub-pixel 4, with surfaces, by processes (of $cores);"
echo "  $fragments covered sample-fragments; x: one process's longest path over this one's"
run_threads threads-1 1
one_path=$(awk '/longest path/ { for (i = 1; i <= NF; i++) if ($i == "path") print $(i + 1) }' \
    "$work/threads-1.time")
run_threads threads-2 2
[ "$cores" -gt 2 ] && run_threads threads-$cores "$cores"
cmp -s "$work/threads-1.png" "$work/threads-2.png" || echo "threads-2  picture differs from one process"

# Two one-process renders at once: twice one render's wall time over the
# later of theirs is the most any split of the frame over two processes
# could gain on this machine now (no work added, none serial).
if [ "$cores" -ge 2 ]; then
    demo4 both-a 1 &
    demo4 both-b 1
    wait
    awk '
'"$time_rules"'
        FNR == 1 { file++ }
        /Elapsed \(wall clock\)/ { w[file] = wall }
        END {
            both = w[2] > w[3] ? w[2] : w[3]
            printf "two at once  two one-process renders %7.2f s wall (x%.2f: the most two processes could gain)\n",
                   both, (both > 0 ? 2 * w[1] / both : 0)
        }' "$work/threads-1.time" "$work/both-a.time" "$work/both-b.time"
fi

# The hair alone, as a fur layer for compositing is rendered: its bands are
# cut by the hair's estimate only.
echo "furrender, the same without the surfaces (the hair alone)"
surfaces=
one_path=
run_threads hair-1 1
one_path=$(awk '/longest path/ { for (i = 1; i <= NF; i++) if ($i == "path") print $(i + 1) }' \
    "$work/hair-1.time")
run_threads hair-2 2
cmp -s "$work/hair-1.png" "$work/hair-2.png" || echo "hair-2     picture differs from one process"
