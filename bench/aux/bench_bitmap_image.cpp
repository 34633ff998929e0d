// Decoding 4096x4096 bitmaps (24 bits, and 8 bits with a colour table) from
// files the benchmark writes itself.
//
// The floor is what no decoder can beat: allocating the output block and
// writing it once (the first write of fresh pages dominates). Each decode
// iteration also times the floor right beside it and reports the ratio, so
// that the two are measured under the same conditions. Peak memory is taken
// in a forked child that decodes once.
//
//   build/bench/aux/bench_bitmap_image --benchmark_min_time=3
#include "bitmap_image.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifdef HAVE_STB_IMAGE
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#include <stb/stb_image.h>
#endif

namespace {

const int kSide = 4096;

std::string dir;
std::string path24;
std::string path8;

void put16(std::vector<unsigned char>* b, uint32_t v) {
    b->push_back(v & 0xFF);
    b->push_back((v >> 8) & 0xFF);
}

void put32(std::vector<unsigned char>* b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// A "BM" file with a 40-byte header; pixels are noise so that nothing is
// helped by the content.
std::string writeBitmap(const std::string& name, int bitCount) {
    std::mt19937 random(bitCount);
    int table = bitCount == 8 ? 256 : 0;
    size_t stride = (size_t(bitCount) * kSide + 31) / 32 * 4;
    size_t offset = 14 + 40 + 4 * size_t(table);
    std::vector<unsigned char> b = {'B', 'M'};
    put32(&b, uint32_t(offset + stride * kSide));
    put32(&b, 0);
    put32(&b, uint32_t(offset));
    put32(&b, 40);
    put32(&b, kSide);
    put32(&b, kSide);
    put16(&b, 1);
    put16(&b, uint32_t(bitCount));
    for (int i = 0; i < 6; ++i)
        put32(&b, 0);
    for (int i = 0; i < table * 4; ++i)
        b.push_back((unsigned char)random());
    size_t start = b.size();
    b.resize(start + stride * kSide);
    for (size_t i = start; i < b.size(); i += 4) {
        uint32_t r = random();
        memcpy(&b[i], &r, b.size() - i < 4 ? b.size() - i : 4);
    }
    std::string path = dir + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fwrite(b.data(), 1, b.size(), f) != b.size() || fclose(f) != 0) {
        fprintf(stderr, "cannot write %s\n", path.c_str());
        exit(1);
    }
    return path;
}

const std::string& pathFor(int bitCount) {
    return bitCount == 24 ? path24 : path8;
}

// Allocate the block and write it once, like a decoder that did no work.
double floorSeconds() {
    size_t bytes = size_t(kSide) * kSide * 3;
    auto start = std::chrono::steady_clock::now();
    unsigned char* block = static_cast<unsigned char*>(malloc(bytes));
    memset(block, 0x5A, bytes);
    benchmark::DoNotOptimize(block);
    benchmark::ClobberMemory();
    free(block);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void decodeOurs(int bitCount) {
    RgbImage* image = loadBitmapImage(pathFor(bitCount).c_str());
    if (!image)
        exit(1);
    benchmark::DoNotOptimize(image->pixels);
    free(image->pixels);
    free(image);
}

#ifdef HAVE_STB_IMAGE
void decodeStb(int bitCount) {
    int w, h, n;
    unsigned char* pixels = stbi_load(pathFor(bitCount).c_str(), &w, &h, &n, 3);
    if (!pixels)
        exit(1);
    benchmark::DoNotOptimize(pixels);
    stbi_image_free(pixels);
}
#endif

long statusKb(const char* field) {
    FILE* f = fopen("/proc/self/status", "r");
    char line[256];
    long kb = -1;
    size_t length = strlen(field);
    while (f && fgets(line, sizeof line, f)) {
        if (strncmp(line, field, length) == 0 && line[length] == ':')
            kb = atol(line + length + 1);
    }
    if (f)
        fclose(f);
    return kb;
}

// Decodes once in a forked child and reports, in MB over what the child had
// before: the peak resident size (which counts the mapped file's pages), and
// the anonymous memory held with the image still alive (the decoder frees no
// large block before it returns, so this is its anonymous peak).
void measureMemory(benchmark::State& state, void (*decode)(int), bool holdsImage) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return;
    pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        long before = statusKb("VmRSS");
        long anonBefore = statusKb("RssAnon");
        // Resets the peak to the present size so that it starts from here.
        FILE* reset = fopen("/proc/self/clear_refs", "w");
        if (reset) {
            fputs("5", reset);
            fclose(reset);
        }
        long anonAfter = anonBefore;
        if (holdsImage) {
            RgbImage* image = loadBitmapImage(pathFor(int(state.range(0))).c_str());
            anonAfter = statusKb("RssAnon");
            free(image->pixels);
            free(image);
        } else {
            decode(int(state.range(0)));
        }
        long result[2] = {statusKb("VmHWM") - before, anonAfter - anonBefore};
        ssize_t written = write(pipeFds[1], result, sizeof result);
        _exit(written == sizeof result ? 0 : 1);
    }
    close(pipeFds[1]);
    long result[2] = {0, 0};
    ssize_t got = read(pipeFds[0], result, sizeof result);
    close(pipeFds[0]);
    waitpid(child, nullptr, 0);
    if (got == sizeof result) {
        state.counters["peak_rss_MB"] = double(result[0]) / 1024;
        if (holdsImage)
            state.counters["anon_MB"] = double(result[1]) / 1024;
    }
}

void runAgainstFloor(benchmark::State& state, void (*decode)(int), bool ours) {
    int bitCount = int(state.range(0));
    double floorTotal = 0;
    double decodeTotal = 0;
    for (auto _ : state) {
        floorTotal += floorSeconds();
        auto start = std::chrono::steady_clock::now();
        decode(bitCount);
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        decodeTotal += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["floor_ms"] = floorTotal * 1000 / double(state.iterations());
    state.counters["x_floor"] = decodeTotal / floorTotal;
    state.counters["output_MB"] = double(kSide) * kSide * 3 / (1024 * 1024);
    measureMemory(state, decode, ours);
}

void BM_Floor(benchmark::State& state) {
    for (auto _ : state)
        state.SetIterationTime(floorSeconds());
}

void BM_Decode(benchmark::State& state) {
    runAgainstFloor(state, decodeOurs, true);
}

#ifdef HAVE_STB_IMAGE
void BM_StbImage(benchmark::State& state) {
    runAgainstFloor(state, decodeStb, false);
}

// Wall time and this process's processor time of one call, in seconds.
struct Cost {
    double wall = 0;
    double cpu = 0;
};

double processSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

Cost cost(void (*work)(int), int bitCount) {
    auto start = std::chrono::steady_clock::now();
    double cpuStart = processSeconds();
    work(bitCount);
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            processSeconds() - cpuStart};
}

void floorWork(int) {
    floorSeconds();
}

// The floor, this decoder and stb_image in turn within every iteration, so
// that a busy machine weighs on all three alike. The iteration time is this
// decoder's; stb_over_ours above 1 means this decoder is faster.
void BM_DecodeVsStb(benchmark::State& state) {
    int bitCount = int(state.range(0));
    Cost floor, ours, stb;
    int turn = 0;
    for (auto _ : state) {
        Cost f, o, s;
        // The order turns round so that none always follows the same one.
        for (int k = 0; k < 3; ++k) {
            switch ((k + turn) % 3) {
            case 0:
                f = cost(floorWork, bitCount);
                break;
            case 1:
                o = cost(decodeOurs, bitCount);
                break;
            default:
                s = cost(decodeStb, bitCount);
                break;
            }
        }
        ++turn;
        floor.wall += f.wall, floor.cpu += f.cpu;
        ours.wall += o.wall, ours.cpu += o.cpu;
        stb.wall += s.wall, stb.cpu += s.cpu;
        state.SetIterationTime(o.wall);
    }
    double n = double(state.iterations());
    state.counters["floor_ms"] = floor.wall * 1000 / n;
    state.counters["stb_ms"] = stb.wall * 1000 / n;
    state.counters["x_floor"] = ours.wall / floor.wall;
    state.counters["stb_x_floor"] = stb.wall / floor.wall;
    state.counters["stb_over_ours"] = stb.wall / ours.wall;
    state.counters["stb_over_ours_cpu"] = stb.cpu / ours.cpu;
}
#endif

} // namespace

BENCHMARK(BM_Floor)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode)->Arg(24)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond);
#ifdef HAVE_STB_IMAGE
BENCHMARK(BM_StbImage)->Arg(24)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeVsStb)->Arg(24)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond);
#endif

int main(int argc, char** argv) {
    char pattern[] = "/tmp/bench-bitmap-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    dir = pattern;
    path24 = writeBitmap("noise24.bmp", 24);
    path8 = writeBitmap("noise8.bmp", 8);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    unlink(path24.c_str());
    unlink(path8.c_str());
    rmdir(dir.c_str());
    return 0;
}
