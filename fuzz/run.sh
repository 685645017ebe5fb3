#!/bin/sh
# Runs every fuzz target found in a build directory for a number of seconds.
#   sh fuzz/run.sh BUILD_DIR SECONDS [long]
# A target fuzz_NAME starts from its corpus fuzz/corpus/NAME. In a short run
# (make fuzz) it works on a copy in BUILD_DIR/fuzz-work/NAME and the corpus
# is never changed. With "long" (make fuzz-long) the inputs it finds are
# merged into fuzz/corpus/NAME afterwards, minimised (-merge=1: the fewest
# inputs that keep every feature; inputs named other than by their hash
# are kept). Inputs that crash are saved in
# BUILD_DIR/fuzz-artifacts/NAME/. Prints executions and coverage per target
# and exits non-zero when a target finds a crash or no target is found.
# FUZZ_TARGETS (names without fuzz_, separated by blanks) runs only those.
#
# An input's share of the fuzzing shrinks with the time it takes
# (-entropic_scale_per_exec_time): an EPN file that claims thousands of
# sizes makes an image of megabytes and takes a hundred times as long as
# the usual input, without reaching more of the code.
set -u

build=${1:?usage: run.sh BUILD_DIR SECONDS [long]}
seconds=${2:-60}
mode=${3:-short}
here=$(cd "$(dirname "$0")" && pwd)

found=0
failed=0
summary=""
for bin in "$build"/fuzz_*; do
    [ -f "$bin" ] && [ -x "$bin" ] || continue
    name=$(basename "$bin")
    target=${name#fuzz_}
    if [ -n "${FUZZ_TARGETS:-}" ]; then
        case " $FUZZ_TARGETS " in *" $target "*) ;; *) continue ;; esac
    fi
    found=$((found + 1))
    corpus="$here/corpus/$target"
    work="$build/fuzz-work/$target"
    artifacts="$build/fuzz-artifacts/$target"
    log="$build/fuzz-work/$target.log"
    rm -rf "$work"
    mkdir -p "$work" "$artifacts" "$corpus" || exit 1
    if [ "$mode" = long ]; then
        dirs="$work $corpus"   # new inputs go to the first directory
    else
        cp "$corpus"/* "$work"/ 2>/dev/null || true
        dirs="$work"
    fi
    echo "== $name: $seconds s, $(ls "$corpus" | wc -l) inputs in its corpus"
    # shellcheck disable=SC2086
    "$bin" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 -entropic_scale_per_exec_time=1 \
        -artifact_prefix="$artifacts/" $dirs >"$log" 2>&1
    status=$?
    grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::|ERROR|SUMMARY' "$log"
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    coverage=$(grep -E '^#[0-9]+[[:space:]]+(DONE|pulse|NEW|REDUCE|INITED)' "$log" | tail -1 |
               sed -n 's/.* cov: \([0-9]*\) ft: \([0-9]*\).*/\1 edges, \2 features/p')
    result="${executions:-?} executions, coverage ${coverage:-?}"
    if [ "$status" -ne 0 ]; then
        tail -40 "$log"
        echo "== $name: FAILED (see $artifacts, $log)"
        failed=$((failed + 1))
        result="$result, FAILED"
    elif [ "$mode" = long ]; then
        merged="$build/fuzz-work/$target.merged"
        rm -rf "$merged" && mkdir -p "$merged"
        if "$bin" -merge=1 "$merged" "$corpus" "$work" >"$log.merge" 2>&1; then
            # An input kept under a name of its own (a finding's, a seed)
            # stays whether or not the merge needs it; the others are
            # named by their hash.
            for f in "$corpus"/*; do
                [ -f "$f" ] || continue
                basename "$f" | grep -qE '^[0-9a-f]{40}$' || cp "$f" "$merged"/
            done
            rm -rf "$corpus" && mv "$merged" "$corpus"
            result="$result, corpus $(ls "$corpus" | wc -l) inputs"
        else
            echo "== $name: merging the corpus failed (see $log.merge)"
            failed=$((failed + 1))
        fi
    fi
    echo "== $name: $result"
    summary="$summary$name: $result
"
done

if [ "$found" -eq 0 ]; then
    echo "no fuzz targets in $build"
    exit 1
fi
printf '\nFuzzing, %s s per target:\n%s' "$seconds" "$summary"
if [ "$failed" -ne 0 ]; then
    echo "$failed of $found fuzz targets failed"
    exit 1
fi
echo "$found fuzz targets ran without findings"
