// The progress steps a shift reports, recorded for the tests to look at.
#pragma once

#include <vector>

#include "patcher.h"

struct Step {
    chronelle::Stage stage;
    double fraction;
};

// A progress callback that appends each step to the std::vector<Step>
// given as user data.
inline void record(const chronelle::ProgressStep& step, void* user)
{
    static_cast<std::vector<Step>*>(user)->push_back({step.stage, step.fraction});
}
