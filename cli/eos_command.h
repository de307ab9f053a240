// The eos command: a sample's measured pressures and volumes in, its fitted equation of state
// out, as a summary or one CSV row, with the residuals and pictures on request.
#pragma once

#include <string>
#include <vector>

namespace hv::cli {

// The options as typed; empty where not given.
struct EosRequest {
    std::string file;
    std::string form = "BM3";
    std::vector<std::string> fix;  // NAME=VALUE
    std::string t0, theta0, z, atoms;
    std::string plot, plotFormat = "png";
    std::string residuals;
    bool csv = false;
};

// Fits and writes. Returns the exit status: 0 fitted, 1 the fit failed (the reason on
// standard error; with --csv the row says it too), 2 a usage error or an unreadable file.
int RunEosCommand(const EosRequest& request);

// The summary and the CSV as text, for the command and its tests.
struct EosOutput {
    int status = 0;
    std::string out, err;
};
EosOutput EosText(const EosRequest& request, const std::string& fileText);

}  // namespace hv::cli
