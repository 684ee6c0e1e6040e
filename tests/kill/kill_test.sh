#!/usr/bin/env bash
# Kill test: the main job on a large input with "/overwrite" over an existing
# output, killed with SIGKILL at random moments. After every kill the output
# must be either the old complete file or the new complete one, and any
# temporary file left must be one that the next run removes
# (".<name>.quillane-<pid>.tmp" of a process that no longer exists).
#
#   tests/kill/kill_test.sh [QUILLANE_EXE] [RUNS] [SIZE_MB]
#
# Defaults: build/dev/quillane, 20 runs, a 200 MB input. Needs python3 and
# about 3 x SIZE_MB of space in $TMPDIR (or /tmp). Prints one line per run and
# a summary; exits 1 if any run broke the rule.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
exe=$(realpath "${1:-$here/../../build/dev/quillane}")
runs=${2:-20}
size_mb=${3:-200}
work=$(mktemp -d "${TMPDIR:-/tmp}/quillane-kill.XXXXXX")
trap 'rm -rf "$work"' EXIT
export QUILLANE_REGISTRY=$work/registry.reg  # an empty registry: default mode
cd "$work"

python3 "$here/make_big_pdf.py" input.pdf "$size_mb" 1
python3 "$here/make_big_pdf.py" older.pdf 10 2
"$exe" /in older.pdf /out old.pdf
start=$(date +%s%N)
"$exe" /in input.pdf /out new.pdf
duration_ms=$(( ($(date +%s%N) - start) / 1000000 ))
old_sum=$(sha256sum <old.pdf | cut -d' ' -f1)
new_sum=$(sha256sum <new.pdf | cut -d' ' -f1)
echo "input $(stat -c %s input.pdf) bytes; a full run takes ${duration_ms} ms"

temporaries() { find . -maxdepth 1 -name '.out.pdf.quillane-*.tmp' | wc -l; }
bad=0 old=0 new=0 finished=0 left=0
for run in $(seq 1 "$runs"); do
  cp old.pdf out.pdf
  # A moment anywhere in the run, and now and then just after it.
  delay_ms=$(( RANDOM % (duration_ms + duration_ms / 5 + 1) ))
  "$exe" /overwrite /in input.pdf /out out.pdf &
  pid=$!
  sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
  if kill -KILL "$pid" 2>/dev/null; then state=killed; else state=finished; finished=$((finished + 1)); fi
  wait "$pid" 2>/dev/null || true
  sum=$(sha256sum <out.pdf | cut -d' ' -f1)
  if [[ $sum == "$old_sum" ]]; then
    outcome=old; old=$((old + 1))
  elif [[ $sum == "$new_sum" ]]; then
    outcome=new; new=$((new + 1))
  else
    outcome="BROKEN ($(stat -c %s out.pdf) bytes)"; bad=$((bad + 1))
  fi
  # A temporary may remain only from a killed run (this one, or an earlier
  # one when this run was killed before it began to save).
  for tmp in .out.pdf.quillane-*.tmp; do
    [[ -e $tmp ]] || continue
    owner=${tmp#.out.pdf.quillane-}; owner=${owner%.tmp}
    if kill -0 "$owner" 2>/dev/null; then
      outcome="$outcome, UNEXPECTED TEMPORARY $tmp"; bad=$((bad + 1))
    fi
  done
  n=$(temporaries); left=$((left + n))
  printf 'run %2d: %-8s after %5d ms: output %s, temporaries %d\n' \
    "$run" "$state" "$delay_ms" "$outcome" "$n"
done

# A complete run removes what the killed ones left.
"$exe" /overwrite /in input.pdf /out out.pdf
final_left=$(temporaries)
final_sum=$(sha256sum <out.pdf | cut -d' ' -f1)
[[ $final_sum == "$new_sum" ]] || { echo "final run: output is not the new file"; bad=$((bad + 1)); }
[[ $final_left == 0 ]] || { echo "final run: $final_left temporaries remain"; bad=$((bad + 1)); }
echo "summary: $runs runs ($finished finished before the kill), output old $old / new $new /" \
  "broken $bad; temporaries seen after kills $left, after the next complete run $final_left"
(( bad == 0 ))
