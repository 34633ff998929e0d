// Speed and memory of model loading.
//
//   load/<layout>/<size>     loadModel with vertex normals, no textures, on
//                            generated exporter-layout files of 1, 10 and
//                            50 MB, spread over four objects ("multi") or
//                            in one object ("single"); MB/s via bytes
//                            processed, on CPU time.
//   blocks/<layout>/<size>   the same files through the reader of a user's own
//                            model (loadAseBlocks), corner normals included
//                            (every corner has its file normal here, so
//                            that part costs a pass over the faces).
//   corner_normals/250k_vertices
//                            computeCornerNormals alone on the sphere below,
//                            every face in smoothing group 1, no file normals.
//   normals/250k_vertices    computeVertexNormals alone on one closed sphere
//                            of about 250,000 vertices and 500,000 triangles.
//   load/overlap/4000_objects
//                            a crafted file of 1.5 MB whose 4,000 objects
//                            each begin behind a long line, where only the
//                            object-finding pass sees them: without a limit
//                            every pass of every object would read on to the
//                            end of the file.
//   peak_memory/<layout>/50MB, peak_memory/overlap/4000_objects,
//   peak_memory_blocks/<layout>/50MB
//                            peak resident memory growth of a forked child
//                            while it loads the 50 MB file, against the file
//                            size (counter peak_per_file); the mapped file's
//                            pages count.
//   assimp_*/<layout>/<size> the same files through assimp, when it was
//                            found at configure time: assimp_smooth makes it
//                            compute smooth normals itself and ignore the
//                            file's normals (aiProcess_ForceGenNormals |
//                            aiProcess_GenSmoothNormals), which is the work
//                            our reader does; assimp_plain takes the normals
//                            the file carries and runs no post-processing.
//
// The model files are written on first use by scripts/gen_ase_bench.py into
// the build directory and kept for later runs.

#include "ase_blocks.h"
#include "ase_reader.h"
#include "corner_normals.h"
#include "records.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifdef HAVE_ASSIMP
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#endif

namespace {

struct ModelFile {
    const char* layout; // "multi", "single" or "overlap"
    int objects;
    int megabytes; // 0: the crafted overlapping file
};

const ModelFile kFiles[] = {
    {"multi", 4, 1},   {"multi", 4, 10},  {"multi", 4, 50},     {"single", 1, 1},
    {"single", 1, 10}, {"single", 1, 50}, {"overlap", 4000, 0},
};

std::string filePath(const ModelFile& f) {
    if (f.megabytes == 0)
        return std::string(BENCH_DATA_DIR) + "/overlap.ase";
    return std::string(BENCH_DATA_DIR) + "/" + f.layout + "_" + std::to_string(f.megabytes) +
           "mb.ase";
}

long long fileSize(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        return -1;
    }
    return static_cast<long long>(st.st_size);
}

// Writes the model file when it is not there yet. False when the generator
// failed.
bool ensureFile(const ModelFile& f) {
    std::string path = filePath(f);
    if (fileSize(path) > 0) {
        return true;
    }
    std::string size = f.megabytes ? "--mb " + std::to_string(f.megabytes) : "--overlap";
    std::string command = std::string("\"") + BENCH_PYTHON + "\" \"" + BENCH_GENERATOR + "\" " +
                          size + " --objects " + std::to_string(f.objects) + " --out \"" + path +
                          "\" >&2";
    return std::system(command.c_str()) == 0 && fileSize(path) > 0;
}

// The model file's path, generated when missing; empty (and the benchmark
// skipped) when it cannot be made.
std::string modelFileFor(benchmark::State& state, ModelFile f) {
    if (!ensureFile(f)) {
        state.SkipWithError("model file could not be generated");
        return std::string();
    }
    return filePath(f);
}

void loadFile(benchmark::State& state, ModelFile f) {
    std::string path = modelFileFor(state, f);
    if (path.empty())
        return;
    long long size = fileSize(path);
    for (auto _ : state) {
        tModel model;
        AseReader reader;
        bool ok = reader.loadModel(&model, path.c_str());
        state.PauseTiming();
        if (!ok || model.objectCount != f.objects) {
            state.SkipWithError("load failed");
            break;
        }
        releaseModelArrays(model);
        // The program loads once into fresh memory. Hand the freed pages back
        // so that every load pays for first touching its arrays, as that one
        // load does, instead of reusing the pages of the previous iteration.
        malloc_trim(0);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["file_MB"] = static_cast<double>(size) / 1e6;
}

void loadBlocksFile(benchmark::State& state, ModelFile f) {
    std::string path = modelFileFor(state, f);
    if (path.empty())
        return;
    long long size = fileSize(path);
    for (auto _ : state) {
        AseModel model;
        std::vector<std::string> problems;
        bool ok = loadAseBlocks(path.c_str(), &model, &problems) == AseLoad::read;
        state.PauseTiming();
        if (!ok || int(model.objects.size()) != f.objects) {
            state.SkipWithError("load failed");
            break;
        }
        model = AseModel();
        malloc_trim(0);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["file_MB"] = static_cast<double>(size) / 1e6;
}

// One closed sphere: a pole at each end and rings of slices vertices
// between them, triangles counter-clockwise seen from outside.
void makeSphere(tModel* model, int slices, int rings) {
    t3DObject object;
    std::memset(&object, 0, sizeof object);
    object.vertexCount = slices * rings + 2;
    object.faceCount = 2 * slices * rings;
    object.pVertices = new Vec3[object.vertexCount];
    object.pTriangles = new tTriangle[object.faceCount];
    const double pi = 3.14159265358979323846;
    object.pVertices[0] = Vec3(0, 0, 1);
    for (int k = 0; k < rings; ++k) {
        double p = pi * (k + 1) / (rings + 1);
        for (int i = 0; i < slices; ++i) {
            double t = 2 * pi * i / slices;
            object.pVertices[1 + k * slices + i] = Vec3(
                static_cast<float>(std::sin(p) * std::cos(t)),
                static_cast<float>(std::sin(p) * std::sin(t)), static_cast<float>(std::cos(p)));
        }
    }
    int bottom = object.vertexCount - 1;
    object.pVertices[bottom] = Vec3(0, 0, -1);
    int n = 0;
    auto add = [&](int a, int b, int c) {
        tTriangle& t = object.pTriangles[n++];
        t.vertexIndex[0] = t.texIndex[0] = a;
        t.vertexIndex[1] = t.texIndex[1] = b;
        t.vertexIndex[2] = t.texIndex[2] = c;
    };
    for (int i = 0; i < slices; ++i) {
        add(0, 1 + i, 1 + (i + 1) % slices);
    }
    for (int k = 0; k + 1 < rings; ++k) {
        int up = 1 + k * slices;
        int lo = up + slices;
        for (int i = 0; i < slices; ++i) {
            int j = (i + 1) % slices;
            add(lo + i, lo + j, up + j);
            add(lo + i, up + j, up + i);
        }
    }
    int last = 1 + (rings - 1) * slices;
    for (int i = 0; i < slices; ++i) {
        add(bottom, last + (i + 1) % slices, last + i);
    }
    model->objects.push_back(object);
    model->objectCount = 1;
}

// True when every normal is a unit vector close to the sphere's outward
// radial direction at its vertex.
bool sphereNormalsPointOut(const t3DObject& object) {
    for (int v = 0; v < object.vertexCount; ++v) {
        Vec3 p = object.pVertices[v];
        Vec3 n = object.pVertexNormals[v];
        double d = p.x * n.x + p.y * n.y + p.z * n.z;
        if (!(d > 0.999)) {
            return false;
        }
    }
    return true;
}

void vertexNormals(benchmark::State& state) {
    // 501 slices by 499 rings: 250,001 vertices, 499,998 triangles.
    tModel model;
    makeSphere(&model, 501, 499);
    AseReader reader;
    t3DObject& object = model.objects[0];
    bool checked = false;
    for (auto _ : state) {
        reader.computeVertexNormals(&model);
        state.PauseTiming();
        bool wrong = !checked && !sphereNormalsPointOut(object);
        checked = true;
        delete[] object.pVertexNormals;
        object.pVertexNormals = nullptr;
        state.ResumeTiming();
        if (wrong) {
            state.SkipWithError("normals do not point outwards along the radius");
            break;
        }
    }
    state.counters["vertices"] = object.vertexCount;
    state.counters["triangles"] = object.faceCount;
    releaseModelArrays(model);
}

void cornerNormals(benchmark::State& state) {
    tModel sphere;
    makeSphere(&sphere, 501, 499);
    const t3DObject& from = sphere.objects[0];
    AseModel model;
    model.objects.emplace_back();
    AseObject& object = model.objects[0];
    object.vertices.assign(from.pVertices, from.pVertices + from.vertexCount);
    object.faces.resize(size_t(from.faceCount));
    for (int f = 0; f < from.faceCount; f++) {
        std::copy(from.pTriangles[f].vertexIndex, from.pTriangles[f].vertexIndex + 3,
                  object.faces[size_t(f)].corner);
        object.faces[size_t(f)].smoothing = 1;
    }
    releaseModelArrays(sphere);
    for (auto _ : state)
        computeCornerNormals(model);
    // A corner's normal is the sphere's radius at its vertex.
    for (const AseFace& face : object.faces) {
        for (int k = 0; k < 3; k++) {
            Vec3 p = object.vertices[size_t(face.corner[k])];
            if (!(dotProduct(p, face.normal[k]) > 0.999f)) {
                state.SkipWithError("corner normals do not point outwards along the radius");
                return;
            }
        }
    }
    state.counters["vertices"] = double(object.vertices.size());
    state.counters["triangles"] = double(object.faces.size());
}

// Reads one "Name:   123 kB" line of /proc/self/status, in bytes.
long long statusBytes(const char* name) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) {
        return -1;
    }
    char line[256];
    long long value = -1;
    size_t len = std::strlen(name);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, name, len) == 0 && line[len] == ':') {
            value = std::atoll(line + len + 1) * 1024;
            break;
        }
    }
    std::fclose(f);
    return value;
}

struct PeakReport {
    long long before; // resident bytes just before the load
    long long peak;   // peak resident bytes during the load
    int resetWorked;  // the peak mark could be reset to the current size
    int loaded;
};

// Loads the file in a forked child, so the measure sees only this load:
// the child resets its peak mark, loads, and reports its peak growth.
bool measurePeak(const std::string& path, bool blocks, PeakReport* report) {
    int fds[2];
    if (pipe(fds) != 0) {
        return false;
    }
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        close(fds[0]);
        PeakReport r = {};
        FILE* clear = std::fopen("/proc/self/clear_refs", "w");
        if (clear) {
            r.resetWorked = std::fputs("5", clear) >= 0;
            r.resetWorked = (std::fclose(clear) == 0) && r.resetWorked;
        }
        r.before = statusBytes("VmRSS");
        if (!r.resetWorked) {
            // Without a reset the peak mark may be the parent's; growth
            // then reads low, never high.
            r.before = statusBytes("VmHWM");
        }
        if (blocks) {
            AseModel model;
            r.loaded = loadAseBlocks(path.c_str(), &model, nullptr) == AseLoad::read;
        } else {
            tModel model;
            AseReader reader;
            r.loaded = reader.loadModel(&model, path.c_str());
        }
        r.peak = statusBytes("VmHWM");
        ssize_t written = write(fds[1], &r, sizeof r);
        _exit(written == static_cast<ssize_t>(sizeof r) ? 0 : 1);
    }
    close(fds[1]);
    ssize_t got = read(fds[0], report, sizeof *report);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return got == static_cast<ssize_t>(sizeof *report) && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

void peakMemory(benchmark::State& state, ModelFile f, bool blocks) {
    std::string path = modelFileFor(state, f);
    if (path.empty())
        return;
    double size = static_cast<double>(fileSize(path));
    PeakReport report = {};
    for (auto _ : state) {
        if (!measurePeak(path, blocks, &report) || !report.loaded) {
            state.SkipWithError("the measuring child failed");
            return;
        }
    }
    double growth = static_cast<double>(report.peak - report.before);
    state.counters["file_MB"] = size / 1e6;
    state.counters["peak_growth_MB"] = growth / 1e6;
    state.counters["peak_per_file"] = growth / size;
    if (!report.resetWorked) {
        state.SetLabel("peak mark not reset: growth may read low");
    }
}

#ifdef HAVE_ASSIMP
void assimpFile(benchmark::State& state, ModelFile f, unsigned int flags) {
    std::string path = modelFileFor(state, f);
    if (path.empty())
        return;
    long long size = fileSize(path);
    for (auto _ : state) {
        Assimp::Importer importer;
        const aiScene* scene = importer.ReadFile(path, flags);
        if (!scene || scene->mNumMeshes == 0 || !scene->mMeshes[0]->mNormals) {
            state.SkipWithError(importer.GetErrorString());
            break;
        }
        // The importer's destructor frees the scene; keep it out of the time
        // like the release of our model.
        state.PauseTiming();
        importer.FreeScene();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["file_MB"] = static_cast<double>(size) / 1e6;
}
#endif

std::string sizeName(const ModelFile& f) {
    if (f.megabytes == 0)
        return std::string(f.layout) + "/" + std::to_string(f.objects) + "_objects";
    return std::string(f.layout) + "/" + std::to_string(f.megabytes) + "MB";
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // Times are the loading thread's CPU time, which is what a load costs on
    // an idle machine; the wall time is reported beside it. On a shared
    // machine other jobs only ever add time, so of five repetitions the
    // fastest is the best estimate of the load's own cost; the median shows
    // what a busy moment does.
    auto fastest = [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
    };
    for (const ModelFile& f : kFiles) {
        benchmark::RegisterBenchmark(("load/" + sizeName(f)).c_str(), loadFile, f)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(5)
            ->ComputeStatistics("min", fastest)
            ->ReportAggregatesOnly(true);
        if (f.megabytes == 0)
            continue;
        benchmark::RegisterBenchmark(("blocks/" + sizeName(f)).c_str(), loadBlocksFile, f)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(5)
            ->ComputeStatistics("min", fastest)
            ->ReportAggregatesOnly(true);
    }
    benchmark::RegisterBenchmark("corner_normals/250k_vertices", cornerNormals)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(5)
        ->ComputeStatistics("min", fastest)
        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark("normals/250k_vertices", vertexNormals)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(5)
        ->ComputeStatistics("min", fastest)
        ->ReportAggregatesOnly(true);
    // The load runs in a child process: only wall time means anything here.
    for (const ModelFile& f : kFiles) {
        if (f.megabytes == 50 || f.megabytes == 0) {
            benchmark::RegisterBenchmark(("peak_memory/" + sizeName(f)).c_str(), peakMemory, f,
                                         false)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Iterations(1);
        }
        if (f.megabytes == 50) {
            benchmark::RegisterBenchmark(("peak_memory_blocks/" + sizeName(f)).c_str(), peakMemory,
                                         f, true)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Iterations(1);
        }
    }
#ifdef HAVE_ASSIMP
    for (const ModelFile& f : kFiles) {
        if (f.megabytes == 0)
            continue;
        benchmark::RegisterBenchmark(("assimp_smooth/" + sizeName(f)).c_str(), assimpFile, f,
                                     aiProcess_ForceGenNormals | aiProcess_GenSmoothNormals)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("assimp_plain/" + sizeName(f)).c_str(), assimpFile, f, 0u)
            ->Unit(benchmark::kMillisecond);
    }
#endif
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
