# Shared by scripts/sanitize and scripts/fuzz: the sanitizers' run-time
# options and the build of the "asan" preset. Source it after lib-install.sh.

# Leaks are errors; undefined behaviour stops the program with a stack; the
# suppressions name what Qt's system libraries keep for the whole process.
# Allocation stacks are taken with the slow unwinder: Qt is built without
# frame pointers, so the fast one stops at the first Qt frame and the
# suppressions, which match frames inside Qt, would never apply. (Under Xvfb
# the slow unwinder deadlocks the browser engine's first load: whatever runs
# the window on Xvfb under ASan sets fast_unwind_on_malloc=1 for itself.)
# new_delete_type_mismatch=0: the browser engine (Chromium) frees objects
# through a base whose size differs from the one allocated, by design of its
# allocator shims; it is not our code and not a fault it has.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:check_initialization_order=1:strict_init_order=1:fast_unwind_on_malloc=0:malloc_context_size=30:new_delete_type_mismatch=0}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$ROOT/tests/sanitizers/lsan.supp:print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-suppressions=$ROOT/tests/sanitizers/ubsan.supp:print_stacktrace=1:halt_on_error=1}"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"

# Compiles through ccache with paths relative to the repository, so that a
# fresh clone in another folder reuses what an earlier clone compiled.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$ROOT}"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"

# Configures and builds the "asan" preset in build-asan/.
hc_build_asan() {
  local root=$1
  (cd "$root" && cmake --preset asan >/dev/null)
  cmake --build "$root/build-asan" -j "$(nproc)"
}
