#include "cli/pattern_series.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace hv::cli {

namespace {

bool FarFrom(const SeriesPoint& p, const SeriesPoint& q)
{
    const double jump = std::fabs(p.pGpa - q.pGpa);
    return jump > kJumpFloorGpa && !(jump <= 5 * std::hypot(p.sigmaPGpa, q.sigmaPGpa));
}

std::string Gpa(double p)
{
    char b[32];
    std::snprintf(b, sizeof b, "%.2f", p);
    return b;
}

}  // namespace

pattern::Outcome SeriesFollow::Fit(std::size_t index, const pattern::Pattern* pattern, const pattern::Options& options)
{
    std::unique_lock lock(m_);
    turn_.wait(lock, [&] { return fitted_ == index; });
    lock.unlock();
    struct Next {
        SeriesFollow& f;
        ~Next()
        {
            // Also when the fit throws: the next file must not wait for ever.
            const std::lock_guard l(f.m_);
            ++f.fitted_;
            f.turn_.notify_all();
        }
    } next{*this};
    pattern::Outcome out;
    if (!pattern) return out;
    // Only this file's turn touches the seeds; the others wait above.
    const bool same = standard_ == options.standard;
    int from = 0;  // 1 near the series' pressure, 2 near the candidate, 0 the whole range
    for (const int k : {1, 2}) {
        const double seed = k == 1 ? series_ : candidate_;
        if (!same || !std::isfinite(seed)) continue;
        pattern::Options near = options;
        near.pressureGuess = seed;
        near.pressureLo = near.pressureHi = kNone;
        out = pattern::FitPattern(*pattern, near);
        if (out.result.status != Status::Error) {
            from = k;
            break;
        }
    }
    if (from == 0) out = pattern::FitPattern(*pattern, options);
    if (out.result.status == Status::Ok) {
        if (from != 0 || !same || !std::isfinite(series_)) {
            series_ = out.result.pGpa;
            candidate_ = kNone;
        } else {
            candidate_ = out.result.pGpa;
        }
        standard_ = options.standard;
    }
    return out;
}

bool JumpsAway(const SeriesPoint& before, const SeriesPoint& p, const SeriesPoint& after)
{
    return (p.pGpa - before.pGpa) * (p.pGpa - after.pGpa) > 0 && FarFrom(p, before) && FarFrom(p, after);
}

void FlagJump(pattern::Outcome& outcome, const SeriesPoint& before, const SeriesPoint& after)
{
    Result& r = outcome.result;
    const std::string note = "flag: " + Gpa(r.pGpa) + " GPa jumps away from both neighbouring files (" +
                             Gpa(before.pGpa) + " and " + Gpa(after.pGpa) + " GPa)";
    r.message = r.message.empty() ? note : r.message + "; " + note;
    if (r.status == Status::Ok) r.status = Status::Warning;
}

}  // namespace hv::cli
