# Sourced by the benchmarks: `settle` before each timed run makes every run
# start from the same state. As root the dirty pages are written and the
# page cache is dropped, so that one run's pages are never flushed or
# reclaimed in the middle of the next; otherwise only `sync` runs and the
# figures are not isolated (said once, and in BENCH_ISOLATION).
if [ -z "${BENCH_ISOLATION:-}" ]; then
  if [ "$(id -u)" = 0 ] && [ -w /proc/sys/vm/drop_caches ]; then
    BENCH_ISOLATION=isolated
  else
    BENCH_ISOLATION="not isolated"
    echo "not isolated (not root): the page cache is not dropped between runs" >&2
  fi
  export BENCH_ISOLATION
fi
settle() {
  sync
  if [ "$BENCH_ISOLATION" = isolated ]; then echo 1 >/proc/sys/vm/drop_caches; fi
}
