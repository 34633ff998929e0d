#include "problem_log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

ProblemLog newProblemLog(int kinds) {
    ProblemLog log;
    log.kinds = std::max(kinds, 1);
    log.counts.assign(size_t(log.kinds), 0);
    return log;
}

int& problemCount(ProblemLog& log, int object, int kind) {
    size_t at = (size_t(std::max(object, -1) + 1)) * size_t(log.kinds) + size_t(kind);
    if (at >= log.counts.size())
        log.counts.resize(at / size_t(log.kinds) * size_t(log.kinds) + size_t(log.kinds), 0);
    return log.counts[at];
}

void addProblem(ProblemLog& log, int object, int kind, size_t at, const char* pattern, ...) {
    int& count = problemCount(log, object, kind);
    // The first problem past those shown stands for all of them.
    if (++count > kProblemsShown) {
        if (count == kProblemsShown + 1)
            log.shown.push_back({at, object, kind, true, ""});
        return;
    }
    char text[400];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    log.shown.push_back({at, object, kind, false, text});
}

std::vector<std::string> problemLines(ProblemLog& log, const Text& text, const std::string& name) {
    std::vector<std::string> lines;
    std::vector<ProblemLog::Entry>& shown = log.shown;
    if (shown.empty())
        return lines;
    std::stable_sort(
        shown.begin(), shown.end(),
        [](const ProblemLog::Entry& a, const ProblemLog::Entry& b) { return a.at < b.at; });
    // Line numbers from the starts of the lines, when some are needed.
    std::vector<size_t> lineStarts;
    for (const ProblemLog::Entry& p : shown) {
        if (p.hidden || p.line > 0 || !lineStarts.empty())
            continue;
        lineStarts.push_back(0);
        for (size_t at = 0; at < text.size;) {
            const void* lineBreak = std::memchr(text.data + at, '\n', text.size - at);
            if (!lineBreak)
                break;
            at = size_t(static_cast<const unsigned char*>(lineBreak) - text.data) + 1;
            lineStarts.push_back(at);
        }
    }
    for (ProblemLog::Entry& p : shown) {
        std::string where = ": ";
        if (p.hidden) {
            p.text = std::to_string(problemCount(log, p.object, p.kind) - kProblemsShown) +
                     " further problems like the one above";
            if (p.object >= 0)
                p.text += " in object " + std::to_string(p.object);
            p.text += " not shown";
        } else if (p.line > 0) {
            where = ":" + std::to_string(p.line) + ": ";
        } else {
            // A problem at the very end of a text that ends in a line break
            // is on the last line, not on the empty one after it.
            size_t at = std::min(p.at, text.size);
            if (at == text.size && at > 0 && text.data[at - 1] == '\n')
                at--;
            size_t line = size_t(std::upper_bound(lineStarts.begin(), lineStarts.end(), at) -
                                 lineStarts.begin());
            where = ":" + std::to_string(line) + ": ";
        }
        lines.push_back(name + where + p.text);
    }
    return lines;
}
