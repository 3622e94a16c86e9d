#!/usr/bin/env bash
# Builds the concurrency test with ThreadSanitizer and runs it. TSan cannot
# be combined with the AddressSanitizer of the main build, so the trace
# library, the 3-D types, the kernels the test calls and the test itself are
# compiled here straight from the sources.
# Usage: tests/tsan/run.sh <build-dir>
# VELA_TSAN_CXX, VELA_TSAN_CC: compilers (default g++, gcc); VELA_TSAN_JOBS:
# parallel compiles (default 2); VELA_TSAN_OPT: optimisation (default -O0,
# which compiles in half the time of -O1 and still runs the test in seconds).
# Exits 77 when the compiler cannot build, or TSan cannot run, a program
# with -fsanitize=thread.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
out="${1:?usage: run.sh <build-dir>}"
cxx="${VELA_TSAN_CXX:-g++}"
cc="${VELA_TSAN_CC:-gcc}"
jobs="${VELA_TSAN_JOBS:-2}"
opt="${VELA_TSAN_OPT:--O0}"
obj_dir="$out/obj$opt"
mkdir -p "$obj_dir"

# A program with a known race: it must build, run and be reported, or TSan
# is of no use here.
probe="$obj_dir/probe.cpp"
cat >"$probe" <<'EOF'
#include <thread>
int shared = 0;
int main() {
  std::thread a([] { ++shared; }), b([] { ++shared; });
  a.join();
  b.join();
}
EOF
if ! "$cxx" -std=c++17 -g -fsanitize=thread -pthread "$probe" -o "$obj_dir/probe" \
    >"$obj_dir/probe.log" 2>&1; then
  echo "tsan: $cxx cannot build with -fsanitize=thread (libtsan missing?); skipping" >&2
  exit 77
fi
probe_status=0
TSAN_OPTIONS="exitcode=66" "$obj_dir/probe" >>"$obj_dir/probe.log" 2>&1 || probe_status=$?
if [[ $probe_status -ne 66 ]] || ! grep -q "ThreadSanitizer: data race" "$obj_dir/probe.log"; then
  echo "tsan: ThreadSanitizer does not work here (probe exit $probe_status, see $obj_dir/probe.log); skipping" >&2
  exit 77
fi

flags=(-g1 "$opt" -fno-omit-frame-pointer -ffp-contract=off -fsanitize=thread -pthread)
includes=(-I"$root/include" -I"$root/src" -I"$root/src/ckernels/include"
          -I"$root/platform/comp_trace/include" -I"$root/platform/math3d/include"
          -I"$root/platform/core/include" -I"$root/platform/codegen_runtime/include"
          -I"$root/platform/linalg/include" -I"$root/platform/foundation/include")
sources=("$root"/platform/comp_trace/src/*.cpp "$root"/platform/math3d/src/*.cpp
         "$root"/platform/core/src/*.cpp "$root"/src/frame/*.cpp
         "$root"/src/linalg/MatrixMultiplyOp.cpp "$root"/src/linalg/MatrixVectorOp.cpp
         "$root"/src/linalg/VectorCombineOp.cpp
         "$root"/platform/linalg/src/products.c "$root"/platform/linalg/src/vector.c
         "$root"/platform/foundation/src/foundation.c
         "$root"/tests/tsan/ConcurrentRecordingTest.cpp)

# An object is rebuilt when its source, or any header, is newer.
headers_newer_than() {
  [[ -n "$(find "$root/include" "$root/src" "$root/platform" -name '*.h*' -newer "$1" -print -quit)" ]]
}

objs=()
running=0
status=0
for src in "${sources[@]}"; do
  rel="${src#"$root"/}"
  obj="$obj_dir/${rel//\//_}.o"
  objs+=("$obj")
  if [[ "$obj" -nt "$src" ]] && ! headers_newer_than "$obj"; then continue; fi
  if [[ "$src" == *.c ]]; then
    "$cc" -std=c99 "${flags[@]}" "${includes[@]}" -c "$src" -o "$obj" &
  else
    "$cxx" -std=c++17 "${flags[@]}" "${includes[@]}" -c "$src" -o "$obj" &
  fi
  running=$((running + 1))
  if ((running >= jobs)); then
    wait -n || status=1
    running=$((running - 1))
  fi
done
while ((running > 0)); do
  wait -n || status=1
  running=$((running - 1))
done
if ((status != 0)); then
  echo "tsan: compilation failed" >&2
  exit 1
fi

"$cxx" "${flags[@]}" "${objs[@]}" -lgtest -lgtest_main -lm -o "$out/concurrent_recording"
# halt_on_error: the first race fails the run with TSan's exit code.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
  "$out/concurrent_recording"
