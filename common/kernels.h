// The table of kernels: for each hot operation, every implementation this
// build has, fastest first, each with the run-time check of the processor
// features it needs. The programs take the first that runs here; the tests
// and the fuzzers go through them all and compare each with the portable
// one, which comes last and runs everywhere.
#pragma once

#include <span>

#include "textwindow.h"
#include "textwrite.h"

namespace track {

template <typename Function>
struct kernel {
    const char *name;
    bool (*runs_here)();
    Function run;
};

using window_kernel = kernel<window_reader>;
using format_kernel = kernel<record_formatter>;

std::span<const window_kernel> window_kernels();
std::span<const format_kernel> format_kernels();

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
