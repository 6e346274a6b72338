#!/usr/bin/env bash
# Builds and runs the benchmarks on the generated large base (release build in build/).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh"
bash "$root/scripts/build.sh"
"$root/build/bench/zentaro_bench" "$@"
"$root/build/bench/zentaro_bench_rules" "$@"
"$root/build/bench/zentaro_bench_durable" "$@"
"$root/build/bench/zentaro_bench_startup"
"$root/build/bench/zentaro_bench_web" "$@"
"$root/build/bench/zentaro_bench_reports" "$@"
"$root/build/bench/zentaro_bench_trust" --benchmark_filter=StalledFirst
"$root/build/bench/zentaro_bench_trust" --benchmark_filter=-StalledFirst
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
"$root/build/bench/zentaro_bench_memory" generate "$tmp/base"
"$root/build/bench/zentaro_bench_memory" load "$tmp/base"
