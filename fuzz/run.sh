#!/usr/bin/env bash
# Builds the fuzz targets if needed and runs one of them (or each in turn)
# for a number of seconds on a copy of its seed corpus, with the dictionary.
#
#   fuzz/run.sh TARGET SECONDS     one target: fuzz_reader, fuzz_xsd, fuzz_xsd_pair,
#                                  fuzz_convert or fuzz_differential
#   fuzz/run.sh all SECONDS        every target, one after the other
#
# Work lives in build/fuzz/work/TARGET: the growing corpus (corpus/), what
# libFuzzer saves on a failure (artifacts/) and the full log (fuzz.log).
# Exits non-zero when a target finds a crash, leak, timeout or mismatch.
# Environment: FUZZ_CXX (default clang++-16), FUZZ_JOBS (build jobs, default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
targets=(fuzz_reader fuzz_xsd fuzz_xsd_pair fuzz_convert fuzz_differential)

usage() {
  (IFS='|'; echo "usage: fuzz/run.sh {all|${targets[*]}} SECONDS" >&2)
  exit 2
}
[ $# -eq 2 ] || usage
[[ $2 =~ ^[0-9]+$ ]] && [ "$2" -gt 0 ] || usage
if [ "$1" = all ]; then
  run=("${targets[@]}")
else
  [[ " ${targets[*]} " == *" $1 "* ]] || usage
  run=("$1")
fi
seconds=$2

if [ -x .venv/bin/cmake ]; then PATH="$root/.venv/bin:$PATH"; fi
build=build/fuzz
if [ ! -f $build/build.ninja ]; then
  CXX=${FUZZ_CXX:-clang++-16} cmake -S . -B $build -G Ninja -DTESSALY_FUZZ=ON >/dev/null
fi
cmake --build $build -j "${FUZZ_JOBS:-2}"

max_len() {
  case $1 in
    fuzz_xsd_pair) echo 16384 ;;
    *) echo 8192 ;;
  esac
}

# Symbolized stacks: ASan finds no symbolizer by itself unless it is named.
if [ -z "${ASAN_SYMBOLIZER_PATH:-}" ]; then
  for s in llvm-symbolizer-16 llvm-symbolizer; do
    if command -v $s >/dev/null; then export ASAN_SYMBOLIZER_PATH=$(readlink -f "$(command -v $s)"); break; fi
  done
fi

# The targets write small files on every run: on tmpfs when there is one.
tmp_parent=$root/$build/work
if [ -d /dev/shm ] && [ -w /dev/shm ]; then tmp_parent=/dev/shm; fi
mkdir -p "$tmp_parent"
tmp=$(mktemp -d "$tmp_parent/tessaly-fuzz-run.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

status=0
for target in "${run[@]}"; do
  work=$root/$build/work/$target
  mkdir -p "$work/corpus" "$work/artifacts"
  cp fuzz/corpus/$target/* "$work/corpus/"
  printf '\n=== %s, %s s\n' "$target" "$seconds"
  set +e
  TMPDIR=$tmp UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/fuzz/$target" "$work/corpus" \
      -dict=fuzz/xml.dict -max_len="$(max_len $target)" -timeout=10 -rss_limit_mb=2048 \
      -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
      >"$work/fuzz.log" 2>&1
  rc=$?
  set -e
  grep -E '^#[0-9]+[[:space:]]+DONE|^Done [0-9]+ runs|^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' \
    "$work/fuzz.log" || true
  if [ $rc -ne 0 ]; then
    status=1
    echo "!!! $target failed (exit $rc); log: $work/fuzz.log" >&2
    grep -E 'ERROR: |\*\*\* mismatch|SUMMARY|Test unit written to' "$work/fuzz.log" >&2 || tail -n 20 "$work/fuzz.log" >&2
    echo "reproduce: $build/fuzz/$target <the file named above>" >&2
  fi
done
exit $status
