#!/usr/bin/env bash
# Runs one fuzz target on one core until it has used SECONDS of CPU time
# (on a busy machine that takes longer than SECONDS of wall time).
#
#   fuzz/run_fuzz.sh TARGET SECONDS [BUILD_DIR]
#
# TARGET is run, registry, command_line, desktop_exec, content_stream, truetype,
# stream_filters or objects; BUILD_DIR
# is the folder of the "fuzz" preset (build/fuzz by default). The working corpus
# lives in BUILD_DIR/corpus/TARGET and is seeded on first use: the run and objects
# targets from
# the PDFs of ../shared/corpus (when present), samples/, tests/data/ and the saved
# findings; content_stream from fuzz/seeds/content_stream, its saved findings and,
# with qpdf, the corpus PDFs that hold "BI" once their streams are uncompressed;
# truetype from the test fonts (tests/fonts/data), its saved findings and,
# with qpdf, the TrueType programs (/FontFile2 streams) of the corpus PDFs;
# the others from
# fuzz/seeds/TARGET. Findings (crashes, inputs over 1 s, property
# failures) land in BUILD_DIR/artifacts/TARGET/; copy each one into
# tests/fuzz_regressions/TARGET/ so the test suite replays it. The fuzzer's own
# log goes to BUILD_DIR/logs/TARGET-<time>.log.
set -euo pipefail

target=${1:?target: run, registry, command_line, desktop_exec, content_stream or truetype}
seconds=${2:?seconds}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=${3:-$source_dir/build/fuzz}
fuzzer=$build/fuzz/${target}_fuzzer
[[ -x $fuzzer ]] || { echo "no $fuzzer: cmake --preset fuzz && cmake --build --preset fuzz" >&2; exit 2; }

corpus=$build/corpus/$target
artifacts=$build/artifacts/$target
mkdir -p "$corpus" "$artifacts" "$build/logs"

if [[ -z $(ls -A "$corpus") ]]; then
  seed() { [[ -f $1 ]] && cp "$1" "$corpus/seed-$(sha1sum "$1" | cut -c1-16)"; return 0; }
  if [[ $target == run || $target == objects ]]; then
    shopt -s globstar nullglob
    for f in "$source_dir"/../shared/corpus/**/*.pdf "$source_dir"/samples/*.pdf \
             "$source_dir"/tests/data/*; do
      seed "$f"
    done
  else
    shopt -s nullglob
    for f in "$here/seeds/$target"/*; do seed "$f"; done
  fi
  if [[ $target == content_stream ]] && command -v qpdf >/dev/null; then
    shopt -s globstar nullglob
    plain=$build/corpus/$target-plain.pdf
    for f in "$source_dir"/../shared/corpus/**/*.pdf; do
      qpdf --qdf --object-streams=disable "$f" "$plain" >/dev/null 2>&1 || true
      [[ -f $plain ]] && grep -aq 'BI' "$plain" && seed "$plain"
      rm -f "$plain"
    done
  fi
  if [[ $target == truetype ]]; then
    shopt -s nullglob
    for f in "$source_dir"/tests/fonts/data/*.tt? "$source_dir"/tests/fonts/data/*.otf; do seed "$f"; done
  fi
  if [[ $target == truetype ]] && command -v qpdf >/dev/null; then
    shopt -s globstar nullglob
    program=$build/corpus/$target-program
    for f in "$source_dir"/../shared/corpus/**/*.pdf; do
      for ref in $(qpdf --json=2 --json-key=qpdf "$f" 2>/dev/null |
          sed -n 's/.*"\/FontFile2": "\([0-9]*\) \([0-9]*\) R".*/\1,\2/p' | sort -u); do
        qpdf --show-object="$ref" --filtered-stream-data "$f" >"$program" 2>/dev/null || true
        [[ -s $program ]] && seed "$program"
      done
    done
    rm -f "$program"
  fi
  for f in "$source_dir/tests/fuzz_regressions/$target"/*; do seed "$f"; done
fi

# -max_len keeps mutation fast; longer seeds are cut to it, which still
# exercises the scanners on a document whose end is missing.
max_len=65536
[[ $target == run || $target == objects || $target == content_stream || $target == truetype ]] ||
  max_len=16384

log=$build/logs/$target-$(date +%Y%m%d-%H%M%S).log
echo "fuzzing $target for $seconds CPU seconds; log: $log" >&2
# One fuzzer process at a time. A finding stops libFuzzer after saving the
# input, so it is started again on the grown corpus until the CPU time is spent.
executions=0
cpu=0
while (( cpu < seconds - 5 )); do
  left=$(( seconds - cpu ))
  (( left >= 30 )) || left=30
  /usr/bin/time -f 'cpu-seconds %U %S' -a -o "$log" \
    "$fuzzer" "$corpus" -timeout=1 -rss_limit_mb=2048 -max_len=$max_len -max_total_time=$left \
    -dict="$here/$target.dict" -artifact_prefix="$artifacts/" -print_final_stats=1 \
    >>"$log" 2>&1 || true
  # This round's executions: its last status line; its CPU time: time's line.
  last=$({ grep -aE '^#[0-9]+' "$log" || true; } | tail -1 | sed -E 's/^#([0-9]+).*/\1/')
  executions=$(( executions + ${last:-0} ))
  cpu=$(awk '/^cpu-seconds/ { total += $2 + $3 } END { printf "%d", total }' "$log")
  echo "--- round ended $(date +%T): executions $executions, CPU seconds $cpu" >>"$log"
done
grep -aE '^#[0-9]+' "$log" | tail -1 >&2 || true
echo "executions: $executions; CPU seconds: $cpu; findings: $(ls "$artifacts" | wc -l)" \
  "in $artifacts" >&2
