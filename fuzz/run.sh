#!/bin/sh
# Runs every fuzz target of a fuzz build for a while each and fails on any
# finding. Usage: fuzz/run.sh BUILD_DIR SECONDS_PER_TARGET
#
# Each target's corpus lives in BUILD_DIR/corpus/TARGET (kept between runs)
# and is seeded from the repository's data files of its kind; a finding is
# written as BUILD_DIR/findings/TARGET-* (the crashing input), to be turned
# into a file under tests/data/.../broken/ with its fix.
set -u
build=${1:?build directory}
seconds=${2:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/corpus" "$build/findings" "$build/logs"

# The repository files that seed a target (globs from the repository root).
seeds() {
    case $1 in
    hair_file) echo "tests/data/descriptions/hair/*.hair tests/data/descriptions/hair/*/*.hair examples/*/*.hair tests/data/e2e/*.hair tests/data/descriptions/*/broken/*.hair" ;;
    scene) echo "tests/data/descriptions/scene/*.kiv tests/data/descriptions/scene/*/*.kiv examples/*/*.kiv tests/data/e2e/*.kiv" ;;
    assign) echo "tests/data/descriptions/assign/*.assign tests/data/descriptions/assign/*/*.assign examples/*/*.assign tests/data/e2e/*.assign" ;;
    curve_data) echo "tests/data/descriptions/*.crv tests/data/descriptions/*/broken/*.crv" ;;
    rla) echo "tests/data/imagefile/*.rla fuzz/seeds/*.rla" ;;
    sgi) echo "tests/data/imagefile/*.rgb fuzz/seeds/*.rgb" ;;
    pic) echo "tests/data/imagefile/*.pic fuzz/seeds/*.pic" ;;
    iff) echo "tests/data/imagefile/*.iff fuzz/seeds/*.iff" ;;
    png) echo "tests/data/imagefile/*.png examples/*/*.png fuzz/seeds/*.png" ;;
    smap) echo "tests/data/render/broken/*.smap fuzz/seeds/*.smap" ;;
    guide_curves) echo "examples/*/*.obj tests/data/readers/broken/*" ;;
    texture) echo "tests/data/imagefile/* examples/*/*.png fuzz/seeds/*" ;;
    *) echo "fuzz/seeds/*" ;;
    esac
}

failed=""
summary=""
for bin in "$build"/bin/*_fuzz; do
    [ -x "$bin" ] || continue
    name=$(basename "$bin" _fuzz)
    corpus="$build/corpus/$name"
    mkdir -p "$corpus"
    for pattern in $(seeds "$name"); do
        for file in $root/$pattern; do
            [ -f "$file" ] && cp "$file" "$corpus/seed-$(basename "$file")"
        done
    done
    # The text formats' keywords, when the target has a dictionary.
    dict=""
    case $name in
    hair_file) dict="$root/fuzz/hair.dict" ;;
    scene | assign) dict="$root/fuzz/$name.dict" ;;
    esac
    log="$build/logs/$name.log"
    # Memory: a small input may claim at most what the readers' caps allow,
    # far below these limits; a time-out is a finding too.
    "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512 \
        -max_len=65536 -print_final_stats=1 -artifact_prefix="$build/findings/$name-" \
        ${dict:+-dict="$dict"} "$corpus" >"$log" 2>&1
    status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    if [ $status -ne 0 ]; then
        failed="$failed $name"
        summary="$summary$name: ${runs:-?} executions, FINDING (see $log)\n"
        grep -m 3 -E 'ERROR|SUMMARY|Test unit written' "$log" | sed 's/^/    /'
    else
        summary="$summary$name: ${runs:-?} executions, no finding\n"
    fi
done
printf "fuzz summary (%s s per target):\n$summary" "$seconds"
if [ -n "$failed" ]; then
    echo "fuzz: findings in:$failed"
    exit 1
fi
[ -n "$summary" ] || { echo "fuzz: no fuzz target built in $build/bin"; exit 1; }
