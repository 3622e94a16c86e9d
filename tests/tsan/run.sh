#!/usr/bin/env bash
# Usage: tests/tsan/run.sh <build-dir>. Builds the concurrency test and the
# sources it needs with ThreadSanitizer and runs it; exits 77 when TSan
# cannot build or run a program. VELA_TSAN_CXX, VELA_TSAN_CC: compilers;
# VELA_TSAN_JOBS: parallel compiles (2); VELA_TSAN_OPT: optimisation (-O0).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
out="${1:?usage: run.sh <build-dir>}"
cxx="${VELA_TSAN_CXX:-g++}" cc="${VELA_TSAN_CC:-gcc}" opt="${VELA_TSAN_OPT:--O0}"
obj_dir="$out/obj$opt"
mkdir -p "$obj_dir"

# A known race must be reported, or TSan is of no use here.
probe="$obj_dir/probe"
printf '#include <thread>\nint s = 0;\nint main() { std::thread a([] { ++s; }), b([] { ++s; });
  a.join(); b.join(); }\n' >"$probe.cpp"
probe_status=0
"$cxx" -std=c++17 -g -fsanitize=thread -pthread "$probe.cpp" -o "$probe" >"$probe.log" 2>&1 &&
  { TSAN_OPTIONS="exitcode=66" "$probe" >>"$probe.log" 2>&1 || probe_status=$?; }
if [[ $probe_status -ne 66 ]] || ! grep -q "ThreadSanitizer: data race" "$probe.log"; then
  echo "tsan: $cxx cannot build or run a program with -fsanitize=thread (see $probe.log); skipping" >&2
  exit 77
fi

flags=(-g1 "$opt" -fno-omit-frame-pointer -ffp-contract=off -fsanitize=thread -pthread)
printf '"%s"\n' "${flags[@]}" -I"$root"/{include,src,src/ckernels/include} \
  -I"$root"/platform/{comp_trace,math3d,core,codegen_runtime,linalg,foundation}/include \
  >"$obj_dir/flags.rsp"
sources=("$root"/platform/{comp_trace,math3d,core}/src/*.cpp "$root"/src/frame/*.cpp
         "$root"/src/linalg/{MatrixMultiplyOp,MatrixVectorOp,ScalarProductOp,VectorCombineOp,VectorScaleOp}.cpp
         "$root"/platform/linalg/src/{products,vector,elementwise}.c "$root"/platform/foundation/src/foundation.c
         "$root"/tests/tsan/ConcurrentRecordingTest.cpp)
newest_header="$(find "$root/include" "$root/src" "$root/platform" -name '*.h*' -printf '%T@ %p\n' |
                 sort -n | tail -1 | cut -d' ' -f2-)"
objs=() commands=()
for src in "${sources[@]}"; do
  rel="${src#"$root"/}"
  obj="$obj_dir/${rel//\//_}.o"
  objs+=("$obj")
  [[ "$obj" -nt "$src" && "$obj" -nt "$newest_header" ]] && continue
  compiler=$(printf '%q -std=c++17' "$cxx")
  [[ "$src" == *.c ]] && compiler=$(printf '%q -std=c99' "$cc")
  commands+=("$compiler $(printf '%q ' "@$obj_dir/flags.rsp" -c "$src" -o "$obj")")
done
if ((${#commands[@]} > 0)) && ! printf '%s\n' "${commands[@]}" |
    xargs -d '\n' -P "${VELA_TSAN_JOBS:-2}" -I{} bash -c '{}'; then
  echo "tsan: compilation failed" >&2
  exit 1
fi

"$cxx" "@$obj_dir/flags.rsp" "${objs[@]}" -lgtest -lgtest_main -lm -o "$out/concurrent_recording"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" "$out/concurrent_recording"
