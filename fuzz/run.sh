#!/bin/sh
# Builds the fuzz targets natively (clang, libFuzzer, ASan, UBSan) and runs
# each for RUNS inputs. A failed property or a sanitizer report fails the run;
# the input that found it is kept in BUILD_DIR/artifacts.
# usage: fuzz/run.sh BUILD_DIR RUNS [SEED]
#   fuzz/run.sh build-fuzz 10000000        the long run, about 1 hour on 2 cores
#   build/fuzz/names_fuzz build/fuzz/artifacts/names_fuzz-crash-...   replays one input
set -e
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: fuzz/run.sh BUILD_DIR RUNS [SEED]}
runs=${2:?usage: fuzz/run.sh BUILD_DIR RUNS [SEED]}
seed=${3:-1}  # fixed by default, so that a run can be repeated
mkdir -p "$build"
build=$(cd "$build" && pwd)

cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j2 >"$build/build.log" 2>&1 || { cat "$build/build.log"; exit 1; }

mkdir -p "$build/artifacts"
status=0
for target in names_fuzz rar_volume_fuzz list_bytes_fuzz command_line_fuzz drop_list_fuzz; do
  corpus=$build/corpus/$target
  mkdir -p "$corpus"
  start=$(date +%s)
  if "$build/$target" -runs="$runs" -seed="$seed" -max_len=2048 -timeout=10 -dict="$here/paths.dict" \
       -artifact_prefix="$build/artifacts/$target-" "$corpus" >"$build/$target.log" 2>&1; then
    echo "$target: $runs inputs in $(($(date +%s) - start)) s, corpus of $(ls "$corpus" | wc -l)"
  else
    echo "$target FAILED (seed $seed):"
    grep -E 'property broken|ERROR|SUMMARY|runtime error|Test unit written' "$build/$target.log" | head -20
    status=1
  fi
done
exit $status
