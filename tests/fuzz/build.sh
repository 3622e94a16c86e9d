#!/usr/bin/env bash
# Usage: tests/fuzz/build.sh <build-dir>. Builds every fuzz target with
# clang, libFuzzer, ASan and UBSan straight from the kernel sources (the main
# build may use gcc, which has no libFuzzer); exits 77 without them.
# VELA_FUZZ_OPT: optimisation (-O1; -O0 compiles ten times faster).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
out="${1:?usage: build.sh <build-dir>}"
cc="${VELA_FUZZ_CC:-clang}"
opt="${VELA_FUZZ_OPT:--O1}"

if ! command -v "$cc" >/dev/null; then
  echo "fuzz: $cc not found; skipping the fuzz targets" >&2
  exit 77
fi
obj_dir="$out/obj$opt"
mkdir -p "$obj_dir"
probe="$obj_dir/probe.c"
printf '#include <stddef.h>\n#include <stdint.h>\nint LLVMFuzzerTestOneInput(const uint8_t* d, size_t n) { (void)d; (void)n; return 0; }\n' >"$probe"
if ! "$cc" -fsanitize=fuzzer,address,undefined "$probe" -o "$obj_dir/probe" 2>/dev/null; then
  echo "fuzz: $cc cannot link with -fsanitize=fuzzer (libFuzzer missing); skipping" >&2
  exit 77
fi

flags=(-std=c99 -g "$opt" -fno-omit-frame-pointer -ffp-contract=off
       -fsanitize=address,undefined -fno-sanitize-recover=all
       -I"$root/src/ckernels/include" -I"$root/platform/linalg/include"
       -I"$root/platform/foundation/include")
sources=("$root"/src/ckernels/*.c "$root"/platform/linalg/src/*.c
         "$root"/platform/foundation/src/*.c)

# The kernels once, into an archive the targets share; the coverage
# instrumentation (fuzzer-no-link) lets libFuzzer see their branches.
objs=()
pids=()
for src in "${sources[@]}"; do
  rel="${src#"$root"/}"
  obj="$obj_dir/${rel//\//_}.o"
  objs+=("$obj")
  if [[ ! "$obj" -nt "$src" ]] || [[ -n "$(find "$root/src/ckernels/include" "$root/platform" -name '*.h' -newer "$obj" -print -quit)" ]]; then
    "$cc" "${flags[@]}" -fsanitize=fuzzer-no-link -c "$src" -o "$obj" &
    pids+=($!)
  fi
done
for pid in "${pids[@]}"; do wait "$pid"; done
rm -f "$obj_dir/libkernels.a"
ar rcs "$obj_dir/libkernels.a" "${objs[@]}"

pids=()
for target_src in "$root"/tests/fuzz/fuzz_*.c; do
  name="$(basename "$target_src" .c)"
  "$cc" "${flags[@]}" -fsanitize=fuzzer -I"$root/tests/fuzz" "$target_src" \
    "$obj_dir/libkernels.a" -llapack -lblas -lm -o "$out/$name" &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
