# Sourced by the benchmark scripts: installs what they need (the other tools
# included), builds chronelle-shift for speed, and the timing helpers.
bash tools/deps.sh bench
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DCHRONELLE_BUILD_TESTS=OFF \
  -DCHRONELLE_BUILD_GUI=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" --target chronelle-shift >/dev/null
shift_bin=$PWD/build-bench/cli/chronelle-shift

now() { date +%s.%N; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
