// The pattern reader on arbitrary bytes, then a fit of what it read. Beyond not crashing:
// a refused file says why and gives no points; a read pattern keeps every promise of the
// reader (enough points, finite numbers, x strictly monotonic, sigma for every point or
// none); a fit either fails with a message and no numbers, or uses two or more peaks whose
// core Fit repeats its pressure to the bit.
#include "core/pressure.h"
#include "core/standards.h"
#include "pattern/pattern.h"
#include "tests/fuzz/fuzz_bytes.h"

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The first byte picks the name, so that the extension's say is fuzzed too.
const char* const kNames[] = {"p.xy", "p.chi", "p.fxye", "p.xye", "p.dat", "p.csv", "p", "dir/p.XY"};

// Fits are bounded: a long pattern is read, not fitted.
constexpr std::size_t kMaxFitPoints = 20000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const uint8_t control = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string name = kNames[control & 7];
    const hv::pattern::ReadOutcome r = hv::pattern::ReadText(text, name);
    if (!r.ok) {
        FUZZ_CHECK(r.error.starts_with(name));
        FUZZ_CHECK(r.pattern.x.empty());
        return 0;
    }
    const hv::pattern::Pattern& p = r.pattern;
    const std::size_t n = p.x.size();
    FUZZ_CHECK(r.error.empty());
    FUZZ_CHECK(n >= hv::pattern::kMinPoints && p.intensity.size() == n);
    FUZZ_CHECK(p.sigma.empty() || p.sigma.size() == n);
    FUZZ_CHECK(p.format == "xy" || p.format == "chi" || p.format == "fxye" || p.format == "xye" || p.format == "columns");
    FUZZ_CHECK(std::isnan(p.wavelength) || (p.wavelength > 0 && std::isfinite(p.wavelength)));
    const bool rising = p.x[1] > p.x[0];
    for (std::size_t i = 0; i < n; ++i) {
        FUZZ_CHECK(std::isfinite(p.x[i]) && std::isfinite(p.intensity[i]));
        if (!p.sigma.empty()) FUZZ_CHECK(std::isfinite(p.sigma[i]) && p.sigma[i] >= 0);
        if (i) FUZZ_CHECK(rising ? p.x[i] > p.x[i - 1] : p.x[i] < p.x[i - 1]);
    }
    if (n > kMaxFitPoints) return 0;

    hv::pattern::Options o;
    o.standard = &hv::Standards()[(control >> 3) % 3];
    o.tCelsius = 25;
    // Without a wavelength of its own, the pattern gets the usual synchrotron one.
    if (std::isnan(p.wavelength)) o.wavelength = 0.4133;
    if (control & 0x20) o.pressureGuess = 2;
    if (control & 0x40) o.sigmaT = 3;
    const hv::pattern::Outcome out = hv::pattern::FitPattern(p, o);
    FUZZ_CHECK(out.curve.size() == n || out.result.status == hv::Status::Error);
    if (out.result.status == hv::Status::Error) {
        FUZZ_CHECK(!out.result.message.empty());
        FUZZ_CHECK(std::isnan(out.result.a) && std::isnan(out.result.pGpa));
        return 0;
    }
    FUZZ_CHECK(out.background.size() == n);
    std::vector<hv::Peak> used;
    for (const hv::pattern::PeakRow& row : out.peaks) {
        FUZZ_CHECK(row.used == row.note.empty());
        if (!row.used) continue;
        FUZZ_CHECK(row.d > 0 && row.sigmaD > 0 && std::isfinite(row.sigmaD));
        used.push_back({row.reflection, row.d, row.sigmaD});
    }
    FUZZ_CHECK(used.size() >= 2 && static_cast<int>(used.size()) == out.result.peaks);
    const hv::Result again = hv::Fit(*o.standard, o.tCelsius, used, o.sigmaT);
    FUZZ_CHECK(again.status != hv::Status::Error);
    FUZZ_CHECK(again.a == out.result.a && again.pGpa == out.result.pGpa);
    return 0;
}
