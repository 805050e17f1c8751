#!/bin/bash
# Records everything a user sees of every shared stream: the pages (text and JSON), the scan list, the
# saved files and the diagnostic log of each run, with the time prefixes and the addresses that change
# from run to run masked. Two snapshots of the same streams must be byte-identical; a change that moves
# code is checked with:
#   scripts/snapshot.sh /tmp/before     # on the commit before the change
#   scripts/snapshot.sh /tmp/after      # on the change
#   diff -r /tmp/before /tmp/after
# Usage: scripts/snapshot.sh OUT [PROGRAM]   (PROGRAM defaults to build/bin/dsmcc; streams from
# ../shared/streams or $STREAMS)
set -u
out=${1:?usage: scripts/snapshot.sh OUT [PROGRAM]}
top=$(cd "$(dirname "$0")/.." && pwd)
prog=${2:-$top/build/bin/dsmcc}
streams=${STREAMS:-$top/../shared/streams}
[ -x "$prog" ] || { echo "no program at $prog (run make first)" >&2; exit 2; }
[ -d "$streams" ] || { echo "no streams at $streams" >&2; exit 2; }
rm -rf "$out" && mkdir -p "$out" || exit 2
# A log of the snapshot's own, so that other runs of the program (a test suite beside it) cannot
# write into the log being recorded.
log="$out/.log.txt"

mask_log() {
  sed -E -e 's/^( *[0-9]+) - [A-Z][a-z]{2} [ 0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[ 0-9]{3} - \([0-9.]+\)/\1 - T - (E)/' \
         -e 's/(SetInterface\(REFIID,|::parse\()0x[0-9a-f]+/\10xADDR/' -e "s#$out/##g" "$log"
}

# run NAME ARGS...: stdout, stderr, exit status and log of one run
run() {
  local name=$1; shift
  "$prog" "$@" --log "$log" > "$out/$name.out" 2> "$out/$name.err"
  echo $? > "$out/$name.rc"
  mask_log > "$out/$name.log" 2>/dev/null
  # Where the streams lie is the machine's, not the program's.
  sed -i "s#$streams/#STREAMS/#g" "$out/$name.out" "$out/$name.err" "$out/$name.log"
}

pair_of() {
  case "$1" in
    hbbtv-sevent.ts) echo 1:0x138e ;;
    mhp-ocdir1*) echo 1:0x7d3 ;;
    synthetic-*) echo 1:0xc8 ;;
    mhp-hbbtv-multiservice.ts) echo 0xd49:0xbb9 ;;
  esac
}

for f in "$streams"/*.ts "$streams"/*.m2ts; do
  [ -f "$f" ] || continue
  b=$(basename "$f")
  run "$b.default" "$f"
  run "$b.scan" scan "$f"
  run "$b.all-json" capture "$f" --all --json
  p=$(pair_of "$b")
  if [ -n "$p" ]; then
    run "$b.pair" capture "$f" --pair "$p"
    run "$b.pair-json" capture "$f" --pair "$p" --json
    run "$b.check" check "$f" --pair "$p" --json
    run "$b.save" capture "$f" --pair "$p" --page data --save "$out/$b.saved"
    sed -i "s#$out/##g" "$out/$b.save.out" "$out/$b.save.err" 2>/dev/null
  fi
done
rm -f "$log"
echo "snapshot of $(ls "$streams" | grep -c -E '\.(ts|m2ts)$') streams in $out"
