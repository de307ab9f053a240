// A series of patterns (a compression or heating run, in input order): the search of each
// file seeded from the series' pressure (--follow), and the flag on a pressure that jumps
// away from both neighbouring files.
#pragma once

#include "cli/plot.h"
#include "core/standards.h"
#include "pattern/pattern.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace hv::cli {

// --follow: files are fitted in input order (read and drawn on every core meanwhile), each
// searched first near the series' pressure (the last one found with status ok near the
// file before it, or the first found), then near a pressure the whole-range search found
// away from it, which becomes the series' own once the next file is found near it, and
// over the whole range only where neither finds anything. So one file found far off (a
// coincidence) does not lead the search astray, and a real step is followed after one file.
class SeriesFollow {
public:
    // Waits until the files before index have had their turn, then fits this one with the
    // file's options seeded as above; for no pattern (a file that cannot be read) only
    // passes the turn on. Safe from many threads, one call per index.
    pattern::Outcome Fit(std::size_t index, const pattern::Pattern* pattern, const pattern::Options& options);

private:
    std::mutex m_;
    std::condition_variable turn_;
    std::size_t fitted_ = 0;
    double series_ = kNone, candidate_ = kNone;
    const Standard* standard_ = nullptr;
};

// Below this a jump is no jump, however small the sigmas.
constexpr double kJumpFloorGpa = 1;

// Whether p jumps away from both neighbours: above both or below both, and from each by
// more than kJumpFloorGpa and more than five combined sigma (the floor alone where a sigma
// is unknown). A steady compression passes between its neighbours; a coincidence in one
// file of a run stands out of it.
bool JumpsAway(const SeriesPoint& before, const SeriesPoint& p, const SeriesPoint& after);

// The flag in the row: "flag: ..." added to the message, naming the neighbours' pressures,
// and an ok status made a warning.
void FlagJump(pattern::Outcome& outcome, const SeriesPoint& before, const SeriesPoint& after);

}  // namespace hv::cli
