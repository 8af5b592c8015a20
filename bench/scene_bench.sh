#!/bin/sh
# Scene benchmark: furrender on the demo scene at 1280 x 720 (sub-pixel 2),
# with and without its shadow maps, then on the same scene with its
# densities scaled to 1 000 000 hairs, then one frame of the rolling ball at
# 640 x 480 (sub-pixel 2) still and motion-blurred. Reports wall time, hairs
# per second and peak memory (from /usr/bin/time -v), the time of each shadow
# pass and of the final render; the rolling frames their processor time as
# well. These runs draw on one process (--threads 1). Last, the demo at
# 640 x 480 with 16 samples per pixel (sub-pixel 4) drawn by 1, 2 and all
# processes: wall and processor time (the workers' included), hairs per
# second of wall time and the peak memory of the largest process.
#
#   bench/scene_bench.sh [build directory]     (default: build)
set -eu

build=${1:-build}
renderer=$build/bin/furrender
[ -x "$renderer" ] || { echo "scene_bench: $renderer is not built" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "scene_bench: needs /usr/bin/time (package time)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The scaled scene: every density of the demo times 1 000 000 / its total.
awk '
    /^[ \t]*density[ \t]*=/ { n++; line[n] = $0; d[n] = $3 + 0; total += d[n]; next }
    { n++; line[n] = $0 }
    END {
        for (i = 1; i <= n; i++) {
            if (i in d) {
                scaled = int(d[i] * 1000000 / total + 0.5)
                sub(/=.*/, "= " scaled " ;", line[i])
            }
            print line[i]
        }
    }' examples/demo/demo.hair > "$work/million.hair"

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
        /Elapsed \(wall clock\)/ {
            k = split($NF, t, ":"); wall = 0
            for (i = 1; i <= k; i++) wall = wall * 60 + t[i]
        }
        /Maximum resident set size/ { rss = $NF }
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
run million "$work/million.hair"

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
        /User time/ { cpu += $NF }
        /System time/ { cpu += $NF }
        /Elapsed \(wall clock\)/ {
            k = split($NF, t, ":"); wall = 0
            for (i = 1; i <= k; i++) wall = wall * 60 + t[i]
        }
        /Maximum resident set size/ { rss = $NF }
        END {
            printf "%-10s %10d hairs  %8.2f s  %8.2f s cpu  %8.1f MB peak\n",
                   name, hairs, wall, cpu, rss / 1024
        }' "$work/$name.out" "$work/$name.time"
}

echo "furrender, rolling ball frame 2 at 640 x 480, sub-pixel 2"
run_rolling still
run_rolling blurred --motion-blur --close-scene examples/rolling/rolling_close

# The demo at sub-pixel 4 on N processes: name, N.
run_threads() {
    name=$1 threads=$2
    /usr/bin/time -v "$renderer" --hair examples/demo/demo.hair --assign examples/demo/demo.assign \
        --scene examples/demo/demo --frame 1 --size 640x480 --subpixel 4 --backface \
        --verbose 1 --threads "$threads" --out "$work/$name.png" > "$work/$name.out" 2> "$work/$name.time"
    awk -v name="$name" '
        /total hairs/ { hairs = $3 }
        /User time/ { cpu += $NF }
        /System time/ { cpu += $NF }
        /Elapsed \(wall clock\)/ {
            k = split($NF, t, ":"); wall = 0
            for (i = 1; i <= k; i++) wall = wall * 60 + t[i]
        }
        /Maximum resident set size/ { rss = $NF }
        END {
            printf "%-10s %10d hairs  %8.2f s  %8.2f s cpu  %10.0f hairs/s  %8.1f MB peak\n",
                   name, hairs, wall, cpu, hairs / wall, rss / 1024
        }' "$work/$name.out" "$work/$name.time"
}

cores=$(nproc 2>/dev/null || echo 1)
echo "furrender, demo scene at 640 x 480, sub-pixel 4, by processes (of $cores)"
run_threads threads-1 1
run_threads threads-2 2
[ "$cores" -gt 2 ] && run_threads threads-$cores "$cores"
cmp -s "$work/threads-1.png" "$work/threads-2.png" || echo "threads-2  picture differs from one process"
