// A benchmark program's key figures, appended to the file named by
// ZELNIK_BENCH_RESULTS (nothing when it is unset) so that scripts/bench can
// gather every program's figures into one table. One line a figure, fields
// separated by tabs: program, figure, value, unit, reference, reference
// value, goal. The reference is measured in the same run ("" when there is
// none); the collector computes value / reference itself. A goal bounds the
// value ("<= 5", ">= 30") or that ratio ("ratio <= 0.1"); "" when none.
#pragma once

#include <cerrno>  // program_invocation_short_name
#include <cstdio>
#include <cstdlib>
#include <string>

inline void bench_result(const char* figure, double value, const char* unit, const char* reference = "",
                         double reference_value = 0, const char* goal = "") {
    const char* path = std::getenv("ZELNIK_BENCH_RESULTS");
    if (!path || !*path) return;
    auto field = [](const char* s) {
        std::string t = s ? s : "";
        for (char& c : t)
            if (c == '\t' || c == '\n' || c == '\r') c = ' ';
        return t;
    };
    std::FILE* f = std::fopen(path, "a");
    if (!f) return;
    std::fprintf(f, "%s\t%s\t%.6g\t%s\t%s\t%.6g\t%s\n", field(program_invocation_short_name).c_str(),
                 field(figure).c_str(), value, field(unit).c_str(), field(reference).c_str(), reference_value,
                 field(goal).c_str());
    std::fclose(f);
}
