#!/usr/bin/env bash
# Builds the model loading benchmark in Release, writes its model files and
# runs it, then prints the figures that matter: load speed at 1, 10 and 50 MB
# (four objects and one object) of the robot's reader and, beside it, of the
# block reader of a user's own model, the 50 MB load times, the time and
# memory of a crafted 1.5 MB file of 4,000 overlapping objects, the vertex
# normal time for 250,000 vertices (and that of the corner normals from
# smoothing groups), peak memory against file size for both readers, and
# assimp's times on the same files; then, for a user's model, the grouping of
# its faces by material and its whole set-up on the CPU for the 50 MB file
# (bench_own_model); and last the readers as whole processes, start to exit,
# on the 50 MB model with the file in the page cache: ase-inspect (the
# robot's reader) and ase-inspect --exporter (the block reader) against
# wc -l on the same file, under hyperfine, with the ratios and the block
# reader's peak memory against the file's size. Installs missing Debian
# packages first.
# Arguments are passed on to the benchmarks (e.g. --benchmark_filter=load).
# BENCH_INSTRUCTIONS=1 also counts the instructions of one load per file under
# callgrind (valgrind), a measure that does not move with the machine's load.
set -euo pipefail
source "$(dirname "$0")/common.sh"
if wants_help "$@"; then
    script_help "$0"
    exit 0
fi
cd "$root"
source scripts/packages.sh
trap hand_back_checkout EXIT
bash scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DROBOT_TESTS=OFF -DROBOT_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target bench_ase_reader bench_bitmap_image bench_own_model ase-inspect

# The benchmark looks for these names and writes missing ones itself; making
# them here keeps the generator's output out of the results table.
data="$build/bench/model/data"
for layout in multi single; do
    objects=4
    [ "$layout" = single ] && objects=1
    for mb in 1 10 50; do
        file="$data/${layout}_${mb}mb.ase"
        [ -s "$file" ] || python3 scripts/gen_ase_bench.py --mb "$mb" --objects "$objects" --out "$file"
    done
done
[ -s "$data/overlap.ase" ] ||
    python3 scripts/gen_ase_bench.py --overlap --objects 4000 --out "$data/overlap.ase"

json="$build/bench_ase_reader.json"
"$build/bench/model/bench_ase_reader" --benchmark_out="$json" --benchmark_out_format=json "$@"

python3 - "$json" <<'EOF'
import json
import sys

# Repeated benchmarks report their fastest repetition (other jobs on the
# machine only ever add time) and their median; the others their one run.
runs = {}
medians = {}
# A filter that matches none of them leaves the file empty.
try:
    benchmarks = json.load(open(sys.argv[1]))["benchmarks"]
except ValueError:
    benchmarks = []
for b in benchmarks:
    if b.get("error_occurred"):
        continue
    name = b.get("run_name", b["name"]).replace("/real_time", "").replace("/iterations:1", "")
    name = name.split("/repeats:")[0]
    if b.get("run_type") == "aggregate":
        if b.get("aggregate_name") == "median":
            medians[name] = b
        if b.get("aggregate_name") != "min":
            continue
    runs[name] = b

def ms(b, kind="cpu_time"):
    unit = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
    return b[kind] * unit

def verdict(ok):
    return "ok" if ok else "MISSED"

print()
if any(k.startswith("load/") for k in runs):
    print("== model loading (loadModel with normals, no textures; beside it loadAseBlocks, the")
    print("   reader of a user's own model, corner normals included)")
    print("   CPU time of the loading thread, fastest of 5 repetitions; median of 5 in brackets")
for layout, label in (("multi", "4 objects"), ("single", "1 object")):
    per_mb = []
    for mb in (1, 10, 50):
        b = runs.get("load/%s/%dMB" % (layout, mb))
        if not b:
            continue
        size = b["file_MB"]
        per_mb.append(ms(b) / size)
        median = medians.get("load/%s/%dMB" % (layout, mb), b)
        line = ("  %-9s %2d MB: %8.1f ms (%6.1f)  %7.1f MB/s  %6.2f ms/MB"
                % (label, mb, ms(b), ms(median), size / ms(b) * 1e3, ms(b) / size))
        blocks = runs.get("blocks/%s/%dMB" % (layout, mb))
        if blocks:
            blocks_median = medians.get("blocks/%s/%dMB" % (layout, mb), blocks)
            line += "   blocks %7.1f ms (%6.1f) = %.2fx" % (
                ms(blocks), ms(blocks_median), ms(blocks) / ms(b))
        print(line)
    if len(per_mb) == 3:
        spread = max(per_mb) / min(per_mb)
        print("  %-9s time per MB, largest / smallest: %.2fx (target < 1.5x: %s)"
              % (label, spread, verdict(spread < 1.5)))
    b = runs.get("load/%s/50MB" % layout)
    if b:
        print("  %-9s 50 MB load: %.1f ms (target < 150 ms: %s)"
              % (label, ms(b), verdict(ms(b) < 150)))
    blocks = runs.get("blocks/%s/50MB" % layout)
    if b and blocks:
        print("  %-9s 50 MB, blocks against the robot's reader: %.1f ms / %.1f ms = %.2fx"
              " (target <= 0.5x: %s)" % (label, ms(blocks), ms(b), ms(blocks) / ms(b),
                                         verdict(ms(blocks) <= 0.5 * ms(b))))

b = runs.get("load/overlap/4000_objects")
if b:
    peak = runs.get("peak_memory/overlap/4000_objects")
    line = "== %d overlapping objects in %.1f MB: %.1f ms (target < 1000 ms: %s)" % (
        4000, b["file_MB"], ms(b), verdict(ms(b) < 1000))
    if peak:
        line += ", peak memory growth %.1f MB (target < 100 MB: %s)" % (
            peak["peak_growth_MB"], verdict(peak["peak_growth_MB"] < 100))
    print(line)

b = runs.get("normals/250k_vertices")
if b:
    median = medians.get("normals/250k_vertices", b)
    print("== vertex normals, %d vertices, %d triangles: %.1f ms CPU, fastest (median %.1f)"
          " (target < 100 ms: %s)"
          % (b["vertices"], b["triangles"], ms(b), ms(median), verdict(ms(b) < 100)))

b = runs.get("corner_normals/250k_vertices")
if b:
    median = medians.get("corner_normals/250k_vertices", b)
    print("== corner normals from smoothing groups, %d vertices, %d triangles: %.1f ms CPU,"
          " fastest (median %.1f)" % (b["vertices"], b["triangles"], ms(b), ms(median)))

for reader, label in (("peak_memory", ""), ("peak_memory_blocks", ", blocks")):
    for layout in ("multi", "single"):
        b = runs.get("%s/%s/50MB" % (reader, layout))
        if b:
            print("== peak memory growth%s, %s 50 MB: %.1f MB for a %.1f MB file = %.2fx"
                  " (target < 2x: %s)" % (label, layout, b["peak_growth_MB"], b["file_MB"],
                                          b["peak_per_file"], verdict(b["peak_per_file"] < 2.0)))

if any(k.startswith("assimp") for k in runs):
    print("== assimp on the same files, CPU time (smooth: it computes the normals;"
          " plain: it takes the file's)")
    for layout in ("multi", "single"):
        for mb in (1, 10, 50):
            ours = runs.get("load/%s/%dMB" % (layout, mb))
            line = "  %-6s %2d MB:" % (layout, mb)
            for kind in ("smooth", "plain"):
                b = runs.get("assimp_%s/%s/%dMB" % (kind, layout, mb))
                if b:
                    line += "  %s %8.1f ms" % (kind, ms(b))
                    if ours:
                        line += " (%.1fx ours)" % (ms(b) / ms(ours))
            if line.endswith("MB:"):
                continue
            print(line)
else:
    print("== assimp: no results (not built without libassimp-dev, or filtered out)")
EOF

echo "== a user's model: grouping its faces, and its CPU set-up for the 50 MB file"
"$build/bench/app/bench_own_model" "$@"

# Whole processes, what a user waits for: page faults, reading the file and
# leaving included. The in-process figures above repeat loads into memory
# that is already mapped, which a user's one load never finds.
file="$data/multi_50mb.ase"
inspect="$build/tools/ase-inspect"
echo "== whole processes on $(basename "$file") (file in the page cache), hyperfine"
cat "$file" >/dev/null
json="$build/bench_processes.json"
hyperfine -N --warmup 2 --runs "${BENCH_PROCESS_RUNS:-15}" --style none --export-json "$json" \
    "$inspect $file" "$inspect --exporter $file" "wc -l $file" >/dev/null
python3 - "$json" "$inspect" "$file" <<'EOF'
import json
import os
import statistics
import sys

results = json.load(open(sys.argv[1]))["results"]
inspect, path = sys.argv[2], sys.argv[3]
robot, blocks, wc = results
for r, label in ((robot, "ase-inspect (the robot's reader)"),
                 (blocks, "ase-inspect --exporter (block reader)"), (wc, "wc -l")):
    print("  %-38s median %6.1f ms, fastest %6.1f ms (user %5.1f, system %5.1f)"
          % (label, statistics.median(r["times"]) * 1e3, min(r["times"]) * 1e3,
             r["user"] * 1e3, r["system"] * 1e3))


def ratio(a, b, target, what):
    median = statistics.median(a["times"]) / statistics.median(b["times"])
    fastest = min(a["times"]) / min(b["times"])
    print("  block reader / %s: %.2fx median, %.2fx fastest (target <= %gx: %s)"
          % (what, median, fastest, target, "ok" if median <= target else "MISSED"))


ratio(blocks, robot, 0.5, "robot's reader")
ratio(blocks, wc, 3, "wc -l")
# Peak memory of one whole run of the block reader against the file's size.
pid = os.fork()
if pid == 0:
    fd = os.open(os.devnull, os.O_WRONLY)
    os.dup2(fd, 1)
    os.execv(inspect, [inspect, "--exporter", path])
_, status, usage = os.wait4(pid, 0)
size = os.path.getsize(path) / 2**20
peak = usage.ru_maxrss / 1024.0
print("  block reader's peak memory: %.1f MB for a %.1f MB file = %.2fx (target <= 2x: %s)"
      % (peak, size, peak / size, "ok" if peak <= 2 * size else "MISSED"))
EOF

if [ "${BENCH_INSTRUCTIONS:-0}" = 1 ]; then
    if ! command -v valgrind >/dev/null; then
        echo "== instructions per load: valgrind is not installed"
        exit 0
    fi
    echo "== instructions per load (callgrind, the load only, one load of each file;"
    echo "   the robot's reader, then the block reader)"
    for name in multi_1mb multi_50mb single_1mb single_50mb; do
        file="$data/$name.ase"
        for reader in robot blocks; do
            out=$(mktemp)
            if [ "$reader" = robot ]; then
                valgrind --tool=callgrind --callgrind-out-file=/dev/null \
                    --toggle-collect='AseReader::loadModel*' \
                    "$build/tools/ase-inspect" "$file" 2>"$out" >/dev/null
            else
                valgrind --tool=callgrind --callgrind-out-file=/dev/null \
                    --toggle-collect='loadAseBlocks*' \
                    "$build/tools/ase-inspect" --exporter "$file" 2>"$out" >/dev/null
            fi
            refs=$(sed -n 's/.*I *refs: *//p' "$out" | tr -d ,)
            rm -f "$out"
            python3 -c "import sys; r, b = int(sys.argv[1]), int(sys.argv[2]); \
print('  %-11s %-6s %14d instructions  %5.1f per byte' % (sys.argv[3], sys.argv[4], r, r / b))" \
                "$refs" "$(stat -c %s "$file")" "$name" "$reader"
        done
    done
fi
