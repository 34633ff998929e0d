// Speed of setting up a model of the user's, before any GL call.
//
//   group_faces/<faces>     grouping the faces of a model built in memory by
//                           the sub-material they are drawn with: four
//                           objects, a material of three sub-materials, ids
//                           taking turns; linear in the faces (BigO).
//   own_model/multi/50MB    what start-up does on the CPU with the 50 MB
//                           model of scripts/gen_ase_bench.py (--objects 4):
//                           reading it with its corner normals, the plain
//                           material, the fit and the grouping; CPU time.

#include "ase_blocks.h"
#include "draw_model.h"
#include "model_fit.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace {

AseModel griddedModel(size_t faces) {
    AseModel model;
    model.materials.resize(1);
    model.materials[0].subMaterials.resize(3);
    for (int i = 0; i < 4; i++) {
        AseObject object;
        object.materialRef = 0;
        size_t side = 256;
        for (size_t v = 0; v < side * side; v++)
            object.vertices.push_back(Vec3(float(v % side), float(v / side), 0));
        for (size_t f = 0; f < faces / 4; f++) {
            AseFace face;
            size_t v = f % (side * side - side - 1);
            face.corner[0] = int(v);
            face.corner[1] = int(v + 1);
            face.corner[2] = int(v + side);
            face.materialId = int(f / 64);
            object.faces.push_back(face);
        }
        model.objects.push_back(object);
    }
    return model;
}

void groupFaces(benchmark::State& state) {
    AseModel model = griddedModel(size_t(state.range(0)));
    for (auto _ : state) {
        FaceGroups groups = group_faces(model);
        benchmark::DoNotOptimize(groups.faces.data());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(groupFaces)
    ->Name("group_faces")
    ->RangeMultiplier(4)
    ->Range(1 << 12, 1 << 20)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

std::string bigModel(benchmark::State& state) {
    std::string path = std::string(BENCH_DATA_DIR) + "/multi_50mb.ase";
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        std::string command = std::string("mkdir -p \"") + BENCH_DATA_DIR + "\" && \"" +
                              BENCH_PYTHON + "\" \"" + BENCH_GENERATOR +
                              "\" --mb 50 --objects 4 --out \"" + path + "\" >&2";
        if (std::system(command.c_str()) != 0 || stat(path.c_str(), &info) != 0) {
            state.SkipWithError("model file could not be generated");
            return std::string();
        }
    }
    return path;
}

void ownModel(benchmark::State& state) {
    std::string path = bigModel(state);
    if (path.empty())
        return;
    for (auto _ : state) {
        AseModel model;
        std::vector<std::string> problems;
        loadAseBlocks(path.c_str(), &model, &problems);
        give_orphans_plain_material(model);
        apply_fit(model, fit_model(model, UpAxis::z));
        FaceGroups groups = group_faces(model);
        benchmark::DoNotOptimize(groups.faces.data());
    }
}
BENCHMARK(ownModel)
    ->Name("own_model/multi/50MB")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
