// What the eos command reads and writes as text beside the fitting library's CSV rows: its
// options read into fit options, and the readable summary. Plain string work with no files or
// drawing, so that the command and the browser page refuse the same settings with the same
// words and summarise a fit alike.
#pragma once

#include "samplefit/samplefit.h"

#include <string>
#include <vector>

namespace hv::rows {

// The fit's settings as typed; empty where not given.
struct EosSettings {
    std::string form = "BM3";
    std::vector<std::string> fix;  // NAME=VALUE
    std::string t0, theta0, z, atoms;
};

// The settings into fit options; false with why (naming the command's option) when one is
// unreadable or belongs to a P-V-T fit without theta0.
bool ReadEosOptions(const EosSettings& settings, samplefit::Options& options, std::string& why);

// The readable summary of a fit that succeeded: parameters with their sigmas, chi-square and
// the correlations of the refined parameters.
std::string EosSummary(const samplefit::Result& result, const samplefit::Options& options);

}  // namespace hv::rows
