#!/bin/sh
# The speed-up of two processes over one, on a shared machine: the demo at
# 640 x 480 with 16 samples a pixel (sub-pixel 4, shaded surfaces) drawn by
# one process and at once by two, by each build in turn, ROUNDS times. The
# load of other work changes slowly, so the two runs of a pair share most of
# it: the median of the pairs' ratios is steadier than a ratio of means.
# Prints per build the median ratio by the longest path (furrender
# --verbose 1) and its quartiles, the median by wall time, each pair's
# ratio, and the fastest runs of one and two processes with their ratio.
#
# Each round also draws the frame twice at once, one process each: twice
# one process's wall time over theirs is the most any split of the frame
# over two processes could gain on the machine at that moment (no work
# added, none serial; only the processors, their caches and memory bus,
# and the other load). The line gives its median, the median share of it
# that two processes reach, and its ratio by the fastest runs.
#
#   bench/threads_pairs.sh ROUNDS BUILD...
#
# A build directory holds bin/furrender and lib/.
set -eu

[ $# -ge 2 ] || { echo "usage: $0 ROUNDS BUILD..." >&2; exit 2; }
rounds=$1
shift
for b in "$@"; do
    [ -x "$b/bin/furrender" ] || { echo "threads_pairs: $b/bin/furrender is not built" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The demo by build $1 on $2 processes into $3.
render() {
    LD_LIBRARY_PATH=$1/lib "$1/bin/furrender" \
        --hair examples/demo/demo.hair --assign examples/demo/demo.assign \
        --scene examples/demo/demo --frame 1 --size 640x480 --subpixel 4 --backface \
        --background 0.1,0.11,0.13 --surfaces --surface-color ball=0.45,0.3,0.2 \
        --surface-color ground=0.42,0.33,0.22 --threads "$2" --verbose 1 --quiet --out "$3"
}

i=0
while [ "$i" -lt "$rounds" ]; do
    i=$((i + 1))
    for b in "$@"; do
        for t in 1 2; do
            start=$(date +%s.%N)
            path=$(render "$b" "$t" "$work/out.png" 2>&1 |
                sed -n 's/.*longest path \([0-9.]*\) s.*/\1/p')
            end=$(date +%s.%N)
            echo "$b $t $path $start $end" >> "$work/runs"
        done
        start=$(date +%s.%N)
        render "$b" 1 "$work/a.png" >/dev/null 2>&1 &
        render "$b" 1 "$work/b.png" >/dev/null 2>&1
        wait
        end=$(date +%s.%N)
        echo "$b both - $start $end" >> "$work/runs"
    done
done

awk '
    { wall = $5 - $4
      if ($2 == 1) { p1[$1] = $3; w1[$1] = wall; next }
      if ($2 == "both") {
          c[$1]++; cr[$1, c[$1]] = 2 * w1[$1] / wall; er[$1, c[$1]] = wr[$1, n[$1]] / cr[$1, c[$1]]
          if (!($1 in bestw1) || w1[$1] < bestw1[$1]) bestw1[$1] = w1[$1]
          if (!($1 in bestc) || wall < bestc[$1]) bestc[$1] = wall
          next }
      n[$1]++; k = n[$1]
      pr[$1, k] = p1[$1] / $3; wr[$1, k] = w1[$1] / wall
      if (!($1 in best1) || p1[$1] < best1[$1]) best1[$1] = p1[$1]
      if (!($1 in best2) || $3 < best2[$1]) best2[$1] = $3 }
    # The q-quantile of a[b, 1 ... m], interpolated between the sorted values.
    function quantile(a, b, m, q,    v, i, j, t, x, lo) {
        for (i = 1; i <= m; i++) v[i] = a[b, i]
        for (i = 2; i <= m; i++)
            for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
        x = 1 + q * (m - 1); lo = int(x)
        return lo >= m ? v[m] : v[lo] + (x - lo) * (v[lo + 1] - v[lo]) }
    END {
        for (b in n) {
            line = ""
            for (k = 1; k <= n[b]; k++) line = line sprintf(" %.2f", pr[b, k])
            printf "%s: pairs %d, ratio by the longest path %.3f (median; quartiles %.3f / %.3f; each:%s), by wall %.3f; fastest one / two processes %.3f / %.3f s (ratio %.3f)\n",
                   b, n[b], quantile(pr, b, n[b], 0.5), quantile(pr, b, n[b], 0.25),
                   quantile(pr, b, n[b], 0.75), line, quantile(wr, b, n[b], 0.5), best1[b], best2[b],
                   best1[b] / best2[b]
            printf "%s: two one-process renders at once: ceiling by wall %.3f (median), reached by two processes %.3f (median); by the fastest runs %.3f\n",
                   b, quantile(cr, b, c[b], 0.5), quantile(er, b, c[b], 0.5), 2 * bestw1[b] / bestc[b]
        }
    }' "$work/runs"
