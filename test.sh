#!/usr/bin/env bash
# Builds the program and runs every test through ctest.
#   ./test.sh                      the normal build (build-test/)
#   ./test.sh --sanitize address   ASan + UBSan (build-asan/)
#   ./test.sh --sanitize thread    TSan (build-tsan/)
# Any further arguments go to ctest (for example -R model).
set -euo pipefail
cd "$(dirname "$0")"
. tools/packages.sh
vemlis_install_packages

sanitize=""
if [ "${1:-}" = "--sanitize" ]; then
  sanitize="$2"
  shift 2
fi
case "$sanitize" in
  "") dir=build-test ;;
  address) dir=build-asan ;;
  thread) dir=build-tsan ;;
  *) echo "unknown sanitizer: $sanitize" >&2; exit 2 ;;
esac

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEMLIS_SANITIZE="$sanitize" >/dev/null
cmake --build "$dir" -j"$(nproc)"
# The tests talk to servers on 127.0.0.1: never through a proxy the environment names.
export no_proxy="127.0.0.1,localhost${no_proxy:+,$no_proxy}" NO_PROXY="127.0.0.1,localhost${NO_PROXY:+,$NO_PROXY}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$(pwd)/tools/tsan.supp"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" "$@"
