#!/usr/bin/env bash
# Sets up and builds as tools/run.sh does, then runs the whole test suite; then builds the program
# again with clang's address and undefined-behaviour checks (in build-sanitize/) and runs the
# tests there too, so a memory or lifetime fault fails the run.
# TAVRONA_SANITIZE=0 skips the second run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

TAVRONA_WERROR=ON "$root/tools/setup.sh"
# Every C++ file of the tree as .clang-format lays it out; a deviating file fails the run.
(cd "$root" && git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror)
# The program folders against .clang-tidy (bug-prone constructs, the special member functions,
# needless copies, functions too complex to follow): any finding fails the run.
if ! run-clang-tidy -p "$root/build" -quiet -j 2 \
    "^$root/(app|cli|editor|list|media|platform|scan|scanner|search|store|transfer|tools)/[^/]+\.cpp\$" >"$root/build/clang-tidy.log" 2>&1; then
    grep -E "(warning|error):" "$root/build/clang-tidy.log" || tail -n 20 "$root/build/clang-tidy.log"
    echo "clang-tidy found the above" >&2
    exit 1
fi
export QT_QPA_PLATFORM=offscreen DBUS_SESSION_BUS_ADDRESS=disabled:
(cd "$root/build" && ctest --output-on-failure -j2 --timeout 900)

[ "${TAVRONA_SANITIZE:-1}" = 0 ] && exit 0
sanitize=$root/build-sanitize
cmake -S "$root" -B "$sanitize" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DTAVRONA_SANITIZE=ON >/dev/null
cmake --build "$sanitize"
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan-thirdparty.supp:print_suppressions=0
# The embedded engine is a plugin that the client library loads on first use and unloads as the
# process exits. The leak checker then still walks the engine's thread-local block that is gone
# and crashes itself ("Tracer caught signal 11 ... LeakSanitizer has encountered a fatal error"),
# reproducibly for some card files. Loaded at start, the engine stays until the process ends.
engine=$(ls /usr/lib/*/firebird/3.0/plugins/libEngine12.so 2>/dev/null | head -n 1 || true)
[ -n "$engine" ] && export LD_PRELOAD=$engine
# Left out here: the long kill-and-sweep run and the Debian package, which the first run covers
# and which would take most of the time left for the rest under the checks.
(cd "$sanitize" && ctest --output-on-failure -j2 --timeout 900 -E '^(killsweep|package)$')
