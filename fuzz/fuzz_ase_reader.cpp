// Feeds arbitrary bytes to the model reader. Small inputs are also read by the
// plain pass-by-pass reader of the tests, and both models must agree bit for
// bit, unless the reader cut overlapping objects short, as it says.

#include "../tests/model/ase_reference.h"
#include "ase_reader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tModel model;
    AseReader reader;
    reader.printProblems = false;
    reader.readModelFromMemory(&model, reinterpret_cast<const char*>(data), size, "fuzz.ase");

    // The plain reader is slow and knows no byte order marks.
    bool marked = (size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) ||
                                 (data[0] == 0xFE && data[1] == 0xFF))) ||
                  (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF);
    bool cutShort = false;
    for (const std::string& problem : reader.problems)
        cutShort = cutShort || problem.find("overlap") != std::string::npos;
    if (size <= 2048 && !marked && !cutShort) {
        tModel plain;
        referenceReadModel(&plain, reinterpret_cast<const char*>(data), size);
        referenceVertexNormals(&plain);
        std::string why;
        if (!sameModel(model, plain, &why)) {
            std::fprintf(stderr, "fast and plain readers differ: %s\n", why.c_str());
            std::abort();
        }
        releaseModelArrays(plain);
    }
    releaseModelArrays(model);
    return 0;
}
