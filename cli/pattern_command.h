// The pattern command: integrated diffraction patterns in, one CSV row with the pressure of
// each out, optionally the table of fitted reflections and a picture of every fit.
#pragma once

#include <string>
#include <vector>

namespace hv::cli {

// The options as typed; empty where not given.
struct PatternRequest {
    std::string standard, temperature, sigmaT;
    std::string wavelength, energy, xUnit, twoThetaFixed;
    std::string pressureGuess, pressureRange, range, reflections;
    std::string peaks, plot, plotFormat = "png";
    std::string list;
    std::vector<std::string> files;
    bool follow = false;  // seed each file's search from the last accepted pressure before it
    unsigned jobs = 0;  // 0: one worker per core
    bool zeroShift = false;
};

// Reads, fits and writes every file, rows to standard output in input order. Returns the
// exit status: 0 every file computed, 1 some are errors (all rows written), 2 a usage error
// (said on standard error, nothing computed).
int RunPatternCommand(const PatternRequest& request);

}  // namespace hv::cli
