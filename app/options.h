#pragma once

#include "model_fit.h"

#include <cstdio>
#include <string>
#include <vector>

// What the command line asks for: robot [--up z|y] [--textures DIR]...
// [MODEL.ase]. Without a model the program shows its own robot exactly as it
// always has.
struct RunOptions {
    const char* model_path = nullptr;
    UpAxis up = UpAxis::z;
    // --textures DIR, in the order given: further folders to look for the
    // model's bitmaps in.
    std::vector<std::string> texture_dirs;
};

enum class ParseOutcome { run, help, bad };

// Reads argv[1 .. argc - 1]. For bad, *error says what was wrong.
ParseOutcome parse_arguments(int argc, char** argv, RunOptions* options, std::string* error);

// The usage text: in full for --help, only its first line for bad usage.
void print_usage(FILE* to, bool full);
