// A table of kernels: for one hot operation, every implementation this build
// has, fastest first, each with the run-time check of exactly the processor
// features it is compiled for (simd.h). The programs take the first that
// runs here; the tests and the fuzzers go through them all and compare each
// with the portable one, which comes last and runs everywhere. Each
// operation's header declares its table, and the kernels.cpp of the program
// that runs it lists them.
#pragma once

#include <span>

namespace track {

template <typename Function>
struct kernel {
    const char *name;
    bool (*runs_here)();
    Function run;
};

// The check of a portable kernel.
inline bool runs_everywhere()
{
    return true;
}

template <typename Function>
Function first_that_runs(std::span<const kernel<Function>> kernels)
{
    for (const kernel<Function> &k : kernels) {
        if (k.runs_here())
            return k.run;
    }
    return kernels.back().run;
}

}  // namespace track
