// The batch command: CSV rows of measured spacings in, the same rows with their pressures
// out. Rows are computed in parallel and written in input order; without a pattern column
// the input streams through in chunks, so memory does not grow with the number of rows.
#pragma once

#include "rows/csv.h"
#include "rows/fields.h"
#include "core/pressure.h"
#include "core/standards.h"
#include "core/units.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace hv::rows {

// Receives the output text, in order.
using Sink = std::function<void(std::string_view)>;

struct BatchSummary {
    int exitCode = 0;    // 0 every row computed, 1 some rows are errors, 2 nothing computed
    std::string error;   // why, for exit code 2
    int64_t rows = 0;    // output rows written
    int64_t errors = 0;  // of them, rows with status error
};

// jobs 0: one worker per core.
BatchSummary RunBatch(Source& source, const Sink& sink, unsigned jobs);

// The columns before the computed ones (kResultHeader) with a pattern column.
constexpr std::string_view kPatternHeader = "pattern,standard,t_c,n_peaks";
// Before them when peaks come as 2-theta or energies: the spacings those gave.
constexpr std::string_view kUsedHeader = "d_used,sigma_d_used";

// Appends ",d_used,sigma_d_used" for the peaks: each d and sigma_d as the shortest text that
// reads back the same, separated by spaces; sigma_d_used empty unless every peak has one.
void AppendUsed(std::string& line, std::span<const Peak> peaks);

// "HKL:D[:SIGMA_D]", HKL as 200, 2,0,0, "2 0 0" or lp. With a unit other than d, D and
// SIGMA_D are a position in that unit and its sigma, turned into d by the core's conversion.
bool ParsePeak(std::string_view text, const Standard& standard, Peak& peak, std::string& why);
bool ParsePeak(std::string_view text, const Standard& standard, XUnit unit, const Geometry& geometry, Peak& peak,
               std::string& why);

// A standard named in any letter case, or why not.
const Standard* ReadStandard(std::string_view text, std::string& why);

}  // namespace hv::rows
