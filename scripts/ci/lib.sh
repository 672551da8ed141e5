# Shared by the CI stages: configure, build and run a suite in one directory.
jobs=$(nproc)

# run_suite <build dir> [cmake arguments...]
run_suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DORBISGROVE_WARNINGS_AS_ERRORS=ON "$@"
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 300
}
