#pragma once

#include "text_scan.h"

#include <cstddef>
#include <string>
#include <vector>

// Problems a reader finds in a model file, shown as "FILE:LINE: what was
// wrong". Of each kind of problem, per object and for the file as a whole,
// the first kProblemsShown are kept and shown; the rest are only counted,
// and one line stands for them.

constexpr int kProblemsShown = 3;

// The patterns are checked as the printf in use reads them: mingw's has a
// name of its own.
#ifdef __MINGW_PRINTF_FORMAT
#define PROBLEM_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define PROBLEM_PRINTF_FORMAT printf
#endif

struct ProblemLog {
    struct Entry {
        size_t at;   // byte offset in the line it is about
        int object;  // -1: not tied to an object
        int kind;    // the reader's own kind of problem
        bool hidden; // stands for the problems of its kind not shown
        std::string text;
        // Its line (from 1), where the reader knew it when the problem was
        // found; 0: worked out from the text at the end.
        size_t line = 0;
    };
    int kinds = 1; // kinds of problem the reader tells apart
    std::vector<Entry> shown;
    // How many of each kind were found: the file's own first, then each
    // object's, kinds entries each.
    std::vector<int> counts;
};

// A log for a reader that tells kinds kinds of problem apart.
ProblemLog newProblemLog(int kinds);

// The counter of object's (or, for -1, the file's) problems of kind.
int& problemCount(ProblemLog& log, int object, int kind);

// Notes a problem at byte offset at: kept when fewer than kProblemsShown of
// its kind came before it, else only counted.
__attribute__((format(PROBLEM_PRINTF_FORMAT, 5, 6))) void
addProblem(ProblemLog& log, int object, int kind, size_t at, const char* pattern, ...);

// The problems in the order of their places in text, one line each, as
// "NAME:LINE: what" (lines counted from 1), with one line after those shown
// of a kind that counts the rest. Line numbers not known yet are worked out
// only here.
std::vector<std::string> problemLines(ProblemLog& log, const Text& text, const std::string& name);
