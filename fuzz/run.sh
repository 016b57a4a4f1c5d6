#!/usr/bin/env bash
# Builds and runs one libFuzzer target (or every one, with "all") for a bounded time.
#
#   fuzz/run.sh TARGET SECONDS [libFuzzer options...]
#   fuzz/run.sh all 30
#
# TARGET is a file name under fuzz/ without ".cpp" (zip_reader, drive_answers, oauth_token,
# oauth_redirect, tdlib_objects, media_range). The build uses clang 16 in its own folder
# (TW_FUZZ_BUILD_DIR, default build-fuzz). The checked-in seeds in fuzz/corpus/TARGET are
# only read; what the run learns goes to build-fuzz/corpus/TARGET and is kept for the next
# run; a crashing input is saved in build-fuzz/artifacts/TARGET/ and the script fails.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ $# -lt 2 ]; then
    echo "usage: $0 TARGET|all SECONDS [libFuzzer options...]" >&2
    exit 2
fi
target="$1"
seconds="$2"
shift 2
build_dir="${TW_FUZZ_BUILD_DIR:-$here/build-fuzz}"
targets=(zip_reader drive_answers oauth_token oauth_redirect tdlib_objects media_range)
if [ "$target" = all ]; then
    selected=("${targets[@]}")
elif [ -f "$here/fuzz/$target.cpp" ]; then
    selected=("$target")
else
    echo "fuzz: no target $target (one of: ${targets[*]}, all)" >&2
    exit 2
fi

export CCACHE_BASEDIR="$here" CCACHE_NOHASHDIR=1
if [ ! -f "$build_dir/build.ninja" ]; then
    cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang-16 -DCMAKE_CXX_COMPILER=clang++-16 -DTW_FUZZ=ON \
        -DTW_BUILD_TESTS=OFF -DTW_BUILD_BENCH=OFF >/dev/null
fi
build_targets=()
for name in "${selected[@]}"; do
    build_targets+=("fuzz_$name")
done
cmake --build "$build_dir" --target "${build_targets[@]}" -- -j"${TW_FUZZ_JOBS:-$(nproc)}"

# Qt needs no display. Short allocation stacks and a small quarantine keep the many small
# allocations of the Qt parsers cheap.
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1:malloc_context_size=5:quarantine_size_mb=64}"
symbolizer=/usr/lib/llvm-16/bin/llvm-symbolizer
[ -x "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH="$symbolizer"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
for name in "${selected[@]}"; do
    corpus="$build_dir/corpus/$name"
    artifacts="$build_dir/artifacts/$name"
    mkdir -p "$corpus" "$artifacts"
    echo "fuzz: $name for ${seconds}s"
    "$build_dir/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -max_len=16384 -print_final_stats=1 -artifact_prefix="$artifacts/" "$@" \
        "$corpus" "$here/fuzz/corpus/$name"
done
