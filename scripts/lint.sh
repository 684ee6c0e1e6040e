#!/usr/bin/env bash
# The house style, checked: clang-format (.clang-format) over every C++ file
# of the tree, and clang-tidy (.clang-tidy: bug-prone patterns, performance,
# override, names) over the product code, as built in the compilation
# database of a configured build (default build/dev). Exits 1 on any finding.
#   scripts/lint.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}
status=0

echo "--- clang-format"
if ! git ls-files -z '*.cpp' '*.h' '*.c' | xargs -0 clang-format --dry-run --Werror; then
  status=1
fi

echo "--- clang-tidy"
if [ ! -f "$build/compile_commands.json" ]; then
  echo "no compilation database in $build: configure it first (cmake --preset dev)"
  exit 1
fi
# The product's own translation units: the layers' folders, as compiled.
python3 - "$build/compile_commands.json" "$PWD" >"$build/lint-files.txt" <<'PY'
import json, sys
root = sys.argv[2].rstrip("/") + "/"
layers = {"app", "base", "fileaccess", "fonts", "pdf", "platform", "reader"}
files = {entry["file"] for entry in json.load(open(sys.argv[1]))}
for path in sorted(files):
    if path.startswith(root) and path[len(root):].split("/")[0] in layers:
        print(path)
PY
if ! xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet <"$build/lint-files.txt" \
    >"$build/lint-tidy.txt" 2>&1; then
  status=1
fi
# Findings are errors (WarningsAsErrors); the summary lines of each run are not.
grep -E ': (warning|error): ' "$build/lint-tidy.txt" | sort -u || true
echo "$(wc -l <"$build/lint-files.txt") files checked"
exit "$status"
