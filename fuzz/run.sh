#!/usr/bin/env bash
# Builds the libFuzzer target of the decoder and of what the vesk command
# prints (summary, plot, diff) with address and undefined-behaviour
# sanitizers, seeds it with a few encoded protocols and pairs of them, and runs
# it for a bounded time. Prints executions, corpus size and crashes; exits
# nonzero on any crash, sanitizer report or failed check.
#   VESK_FUZZ_SECONDS=60   run time in seconds (default 60)
#   VESK_FUZZ_BUILD=DIR    build and work directory (default build/fuzz)
#   VESK_FUZZ_FLAGS=...    more compiler flags, e.g. -DPROTOCOLS_NO_AVX512 to
#                          fuzz the AVX2 sample loop on a machine with AVX-512
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${VESK_FUZZ_SECONDS:-60}
build=${VESK_FUZZ_BUILD:-build/fuzz}

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
if ! command -v clang++ >/dev/null; then
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang
fi

mkdir -p "$build"
reader=(vesk/formats vesk/words vesk/report)  # what the fuzzed outputs are made by
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -Iprotocols/include "${reader[@]/#/-I}"
       -fsanitize=address,undefined -fno-sanitize-recover=all
       -fconstexpr-steps=100000000  # the encoder and text form build lookup tables at compile time
       ${VESK_FUZZ_FLAGS:-})

echo "== building the fuzzer ($(clang++ --version | head -n1))"
# The core and vesk's report libraries, each file compiled once, on every core.
rm -rf "$build/objects"
sources=(protocols/src/*.cpp)
for folder in protocols/src "${reader[@]}"; do
    mkdir -p "$build/objects/$folder"
    [ "$folder" = protocols/src ] || sources+=("$folder"/*.cpp)
done
printf '%s\n' "${sources[@]}" |
    xargs -P "$(nproc)" -I{} clang++ "${flags[@]}" -fsanitize=fuzzer-no-link -c {} \
        -o "$build/objects/{}.o"
objects=("$build"/objects/protocols/src/*.o "$build"/objects/vesk/*/*.o)
clang++ "${flags[@]}" -fsanitize=fuzzer fuzz/decoder_fuzz.cpp "${objects[@]}" -o "$build/decoder_fuzz"
clang++ "${flags[@]}" -fsanitize=fuzzer-no-link fuzz/seed_corpus.cpp "${objects[@]}" \
    -o "$build/seed_corpus"

# A fresh corpus each run keeps the figures comparable; the seeds are kept apart.
rm -rf "$build/seeds" "$build/corpus" "$build/artifacts"
mkdir -p "$build/seeds" "$build/corpus" "$build/artifacts"
"$build/seed_corpus" "$build/seeds"

echo "== fuzzing the decoder and the vesk reader for ${seconds} s"
status=0
"$build/decoder_fuzz" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/" "$build/corpus" "$build/seeds" \
    >"$build/fuzz.log" 2>&1 || status=$?

executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/fuzz.log" | tail -n1)
corpus=$(find "$build/corpus" -type f | wc -l)
crashes=$(find "$build/artifacts" -type f | wc -l)
echo "executions: ${executions:-unknown}"
echo "corpus size: $corpus inputs (from $(find "$build/seeds" -type f | wc -l) seeds)"
echo "crashes: $crashes"
if [ "$status" -ne 0 ] || [ "$crashes" -ne 0 ] || [ -z "$executions" ]; then
    echo "fuzzing failed (exit status $status); the end of $build/fuzz.log:" >&2
    tail -n 40 "$build/fuzz.log" >&2
    exit 1
fi
