#!/bin/sh
# Runs every fuzz target found in a build directory for a number of seconds.
#   sh fuzz/run.sh BUILD_DIR SECONDS [long]
# A target fuzz_NAME starts from its corpus fuzz/corpus/NAME. In a short run
# (make fuzz) it works on a copy in BUILD_DIR/fuzz-work/NAME and the corpus
# is never changed. With "long" (make fuzz-long) the inputs it finds are
# merged into fuzz/corpus/NAME afterwards, minimised (-merge=1: the fewest
# inputs that keep every feature; inputs named other than by their hash
# are kept). Inputs that crash are saved in
# BUILD_DIR/fuzz-artifacts/NAME/. Prints executions (and per second) and
# coverage per target and exits non-zero when a target finds a crash or no
# target is found. FUZZ_TARGETS (names without fuzz_, separated by blanks)
# runs only those. FUZZ_JOBS (default 1) runs that many targets at a time,
# each on a share of the targets of its own; what each says is printed
# when all are done, target by target.
#
# An input's share of the fuzzing shrinks with the time it takes
# (-entropic_scale_per_exec_time): an EPN file that claims thousands of
# sizes makes an image of megabytes and takes a hundred times as long as
# the usual input, without reaching more of the code.
set -u

build=${1:?usage: run.sh BUILD_DIR SECONDS [long]}
seconds=${2:-60}
mode=${3:-short}
jobs=${FUZZ_JOBS:-1}
here=$(cd "$(dirname "$0")" && pwd)

case "$jobs" in '' | *[!0-9]* | 0) echo "FUZZ_JOBS must be a number from 1 up"; exit 1 ;; esac

# Fuzzes one target; what it says goes to BUILD_DIR/fuzz-work/NAME.out, its
# summary line to NAME.result, and NAME.failed is made when it failed.
run_target() {
    bin=$1
    name=$(basename "$bin")
    target=${name#fuzz_}
    corpus="$here/corpus/$target"
    work="$build/fuzz-work/$target"
    artifacts="$build/fuzz-artifacts/$target"
    log="$build/fuzz-work/$target.log"
    out="$build/fuzz-work/$target.out"
    rm -rf "$work" "$build/fuzz-work/$target.failed" "$build/fuzz-work/$target.result"
    mkdir -p "$work" "$artifacts" "$corpus" || { : >"$build/fuzz-work/$target.failed"; return; }
    if [ "$mode" = long ]; then
        dirs="$work $corpus"   # new inputs go to the first directory
    else
        cp "$corpus"/* "$work"/ 2>/dev/null || true
        dirs="$work"
    fi
    {
        echo "== $name: $seconds s, $(ls "$corpus" | wc -l) inputs in its corpus"
        # shellcheck disable=SC2086
        "$bin" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 -entropic_scale_per_exec_time=1 \
            -artifact_prefix="$artifacts/" $dirs >"$log" 2>&1
        status=$?
        grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::|ERROR|SUMMARY' "$log"
        executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
        coverage=$(grep -E '^#[0-9]+[[:space:]]+(DONE|pulse|NEW|REDUCE|INITED)' "$log" | tail -1 |
                   sed -n 's/.* cov: \([0-9]*\) ft: \([0-9]*\).*/\1 edges, \2 features/p')
        result="${executions:-?} executions (${rate:-?}/s), coverage ${coverage:-?}"
        if [ "$status" -ne 0 ]; then
            tail -40 "$log"
            echo "== $name: FAILED (see $artifacts, $log)"
            : >"$build/fuzz-work/$target.failed"
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
                : >"$build/fuzz-work/$target.failed"
            fi
        fi
        echo "== $name: $result"
        echo "$name: $result" >"$build/fuzz-work/$target.result"
    } >"$out" 2>&1
}

targets=""
for bin in "$build"/fuzz_*; do
    [ -f "$bin" ] && [ -x "$bin" ] || continue
    target=$(basename "$bin")
    target=${target#fuzz_}
    if [ -n "${FUZZ_TARGETS:-}" ]; then
        case " $FUZZ_TARGETS " in *" $target "*) ;; *) continue ;; esac
    fi
    targets="$targets $target"
done
if [ -z "$targets" ]; then
    echo "no fuzz targets in $build"
    exit 1
fi
mkdir -p "$build/fuzz-work" || exit 1

if [ "$jobs" -eq 1 ]; then
    # One at a time, each target's lines as soon as it is done.
    for target in $targets; do
        run_target "$build/fuzz_$target"
        cat "$build/fuzz-work/$target.out"
    done
else
    # Lane k takes targets k, k + jobs, ...: each target runs for the same
    # time, so the lanes end together.
    lane=0
    while [ "$lane" -lt "$jobs" ]; do
        (
            i=0
            for target in $targets; do
                [ $((i % jobs)) -eq "$lane" ] && run_target "$build/fuzz_$target"
                i=$((i + 1))
            done
        ) &
        lane=$((lane + 1))
    done
    echo "== $(echo $targets | wc -w) fuzz targets, $jobs at a time, $seconds s each"
    wait
    for target in $targets; do cat "$build/fuzz-work/$target.out"; done
fi

found=0
failed=0
summary=""
for target in $targets; do
    found=$((found + 1))
    if [ -f "$build/fuzz-work/$target.result" ]; then
        summary="$summary$(cat "$build/fuzz-work/$target.result")
"
    else
        summary="${summary}fuzz_$target: no result
"
        : >"$build/fuzz-work/$target.failed"
    fi
    [ -f "$build/fuzz-work/$target.failed" ] && failed=$((failed + 1))
done
printf '\nFuzzing, %s s per target:\n%s' "$seconds" "$summary"
if [ "$failed" -ne 0 ]; then
    echo "$failed of $found fuzz targets failed"
    exit 1
fi
echo "$found fuzz targets ran without findings"
