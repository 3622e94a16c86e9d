#!/usr/bin/env bash
# Builds the API reference into $1 and fails on any Doxygen warning; exits
# 77 (skipped) when Doxygen is not installed.
set -euo pipefail
command -v doxygen >/dev/null || { echo "doxygen not installed (scripts/docs installs it)"; exit 77; }
root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$1"
cd "$root"
VELA_DOCS_OUTPUT="$1" doxygen docs/Doxyfile
if [[ -s "$1/warnings.txt" ]]; then
  cat "$1/warnings.txt"
  exit 1
fi
