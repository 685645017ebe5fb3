#!/bin/sh
# Runs every fuzz target found in a build directory for a number of seconds.
#   sh fuzz/run.sh BUILD_DIR SECONDS
# A target fuzz_NAME starts from a copy of its seed corpus fuzz/corpus/NAME
# in BUILD_DIR/fuzz-work/NAME (the seeds themselves are never changed);
# inputs that crash are saved in BUILD_DIR/fuzz-artifacts/NAME/. Exits
# non-zero when a target finds a crash or no target is found.
set -u

build=${1:?usage: run.sh BUILD_DIR SECONDS}
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)

found=0
failed=0
for bin in "$build"/fuzz_*; do
    [ -f "$bin" ] && [ -x "$bin" ] || continue
    found=$((found + 1))
    name=$(basename "$bin")
    target=${name#fuzz_}
    work="$build/fuzz-work/$target"
    artifacts="$build/fuzz-artifacts/$target"
    rm -rf "$work"
    mkdir -p "$work" "$artifacts" || exit 1
    for seeds in "$here/corpus/$target" "$here/corpus/$name"; do
        if [ -d "$seeds" ]; then
            cp "$seeds"/* "$work"/ 2>/dev/null || true
        fi
    done
    echo "== $name: $seconds s, $(ls "$work" | wc -l) seeds"
    if ! "$bin" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$artifacts/" "$work"; then
        echo "== $name: FAILED (see $artifacts)"
        failed=$((failed + 1))
    fi
done

if [ "$found" -eq 0 ]; then
    echo "no fuzz targets in $build"
    exit 1
fi
if [ "$failed" -ne 0 ]; then
    echo "$failed of $found fuzz targets failed"
    exit 1
fi
echo "$found fuzz targets ran without findings"
