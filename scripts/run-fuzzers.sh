#!/bin/sh
# Runs each libFuzzer target for SECONDS seconds, two at a time, and prints what each did.
#
#   scripts/run-fuzzers.sh SECONDS [TARGET ...]     (targets: sitables dsi dii ddb biop_module inflate demux chain)
#
# The targets come from the `fuzz` preset (build/fuzz/bin, or $FUZZ_BUILD_DIR/bin). Each run starts
# from the committed seeds in fuzz/corpus/<target> and the inputs in fuzz/regressions/<target>, and
# keeps what it learns in a working corpus under the build folder, so the committed corpus stays
# small. A crash, leak or broken invariant leaves its input under <build>/fuzz-artifacts/<target>/:
# copy it to fuzz/regressions/<target>/ once the fault is fixed, so that every test run replays it.
# The exit status is 1 when any target found something.
set -u

SECONDS_EACH=${1:?usage: $0 SECONDS [TARGET ...]}
shift
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build/fuzz}
JOBS=${FUZZ_JOBS:-2}
WORK=$BUILD/fuzz-work
ARTIFACTS=$BUILD/fuzz-artifacts
TARGETS=${*:-"sitables dsi dii ddb biop_module inflate demux chain"}

dict_for() {
  case $1 in
    demux | chain) echo "$ROOT/fuzz/dict/ts.dict" ;;
    *) echo "$ROOT/fuzz/dict/dsmcc.dict" ;;
  esac
}

run_one() {
  t=$1
  bin=$BUILD/bin/fuzz_$t
  if [ ! -x "$bin" ]; then
    echo "fuzz_$t: not built in $BUILD (cmake --preset fuzz && cmake --build --preset fuzz)" >"$WORK/$t.log"
    return
  fi
  mkdir -p "$WORK/$t" "$ARTIFACTS/$t" "$ROOT/fuzz/regressions/$t"
  # Inputs left from a run of another build would be replayed first; that is wanted.
  nice -n 10 "$bin" -max_total_time="$SECONDS_EACH" -print_final_stats=1 -dict="$(dict_for "$t")" \
    -artifact_prefix="$ARTIFACTS/$t/" "$WORK/$t" "$ROOT/fuzz/corpus/$t" "$ROOT/fuzz/regressions/$t" \
    >"$WORK/$t.log" 2>&1
}

summary() {
  t=$1
  log=$WORK/$t.log
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  found=$(find "$ARTIFACTS/$t" -type f 2>/dev/null | wc -l)
  printf '%-12s runs %-10s cov %-6s ft %-7s findings %s\n' "$t" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$found"
  if grep -q '^fuzz_.*not built' "$log"; then cat "$log"; fi
  [ "$found" -eq 0 ]
}

mkdir -p "$WORK" "$ARTIFACTS"
running=0
for t in $TARGETS; do
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$JOBS" ]; then
    wait
    running=0
  fi
done
wait

status=0
echo "fuzzing: $SECONDS_EACH s per target, logs in $WORK"
for t in $TARGETS; do
  summary "$t" || status=1
done
if [ "$status" -ne 0 ]; then
  echo "findings are in $ARTIFACTS; each fixed fault's input belongs in fuzz/regressions/<target>/"
fi
exit $status
