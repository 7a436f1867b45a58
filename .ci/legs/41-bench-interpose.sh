# Leg: the interposer's benchmark builds and writes a well-formed --json
# report with its three ratios.  Its figures are not judged here (a shared
# CI machine would make a timed verdict flake).  Reuses build/ of leg 40.
cmake --build build -j"$JOBS" --target bench_interpose
build/bin/bench_interpose --json >build/bench_interpose.json 2>build/bench_interpose.log \
    || { cat build/bench_interpose.log; exit 1; }
python3 - build/bench_interpose.json <<'PY'
import json, sys
ratios = json.load(open(sys.argv[1]))["ratios"]
missing = sorted({"open_close_overhead", "read_4k_overhead", "stat_overhead"} - set(ratios))
if missing:
    sys.exit("bench_interpose --json lacks " + ", ".join(missing))
PY
log "bench_interpose: report complete"
