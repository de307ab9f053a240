// The engine under arbitrary bit patterns: every float and double the bytes spell (NaN,
// infinities, subnormals) and every standard code. Beyond not crashing, each operation
// must report through its status and write its result exactly when that status says so.
#include "engine/clsKolvane.h"
#include "tests/fuzz/fuzz_bytes.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr uint32_t kUnwrittenP = 0x7fc5a5a5u;  // quiet NaNs no computation produces
constexpr uint64_t kUnwritten = 0x7ff8a5a5a5a5a5a5u;

const clsKolvane engine;

void Pressure(int16_t istd, float tcel, float vdiff)
{
    float p = std::bit_cast<float>(kUnwrittenP);
    int16_t ierr = -32000;
    engine.Kolvane(istd, tcel, vdiff, p, ierr);
    const bool written = std::bit_cast<uint32_t>(p) != kUnwrittenP;
    FUZZ_CHECK(ierr >= 0 && ierr <= 6);
    if (istd < 1 || istd > 3) {
        FUZZ_CHECK(ierr == clsKolvane::BAD_STANDARD && !written);
        return;
    }
    FUZZ_CHECK(ierr != clsKolvane::BAD_STANDARD);
    FUZZ_CHECK(ierr != (istd == 2 ? clsKolvane::OK : clsKolvane::KCL_USED));
    const bool says = ierr == clsKolvane::OK || ierr == clsKolvane::KCL_USED || ierr == clsKolvane::VOLUME_HIGH ||
                      (ierr == clsKolvane::VOLUME_LOW && vdiff > -1);
    FUZZ_CHECK(written == says);
    FUZZ_CHECK(!written || std::isfinite(p));
    // The range statuses agree with V/V0, give or take the rounding of V0 * (1 + VDIFF) / V0.
    const double x = static_cast<double>(vdiff) + 1;
    if (ierr == clsKolvane::VOLUME_LOW) FUZZ_CHECK(x < 0.5 + 1e-12);
    if (ierr == clsKolvane::VOLUME_HIGH) FUZZ_CHECK(x > 1.5 - 1e-12);
    if (ierr <= clsKolvane::KCL_USED) FUZZ_CHECK(x > 0.5 - 1e-12 && x < 1.5 + 1e-12);
    // Only a temperature below absolute zero makes the Debye argument negative.
    if (ierr == clsKolvane::DEBYE_REFUSED) FUZZ_CHECK(static_cast<double>(tcel) + 273.15 < 0);
}

void Debye(double tnorm)
{
    double f = std::bit_cast<double>(kUnwritten);
    int16_t ierr = -32000;
    engine.DEBYE(tnorm, f, ierr);
    const bool written = std::bit_cast<uint64_t>(f) != kUnwritten;
    FUZZ_CHECK(ierr == (tnorm >= 0 ? 0 : 1));
    FUZZ_CHECK(written == (ierr == 0));
    // D(x) falls from 1 at x = 0 towards 0.
    FUZZ_CHECK(!written || (f >= 0 && f <= 1));
}

void Gauleg(double x1, double x2, int16_t n, std::size_t len)
{
    constexpr std::size_t guard = 4;
    std::vector<double> x(len + 2 * guard, std::bit_cast<double>(kUnwritten));
    std::vector<double> w = x;
    engine.GAULEG(x1, x2, std::span(x).subspan(guard, len), std::span(w).subspan(guard, len), n);
    const auto untouched = [](double v) { return std::bit_cast<uint64_t>(v) == kUnwritten; };
    const bool fits = n >= 1 && len > static_cast<std::size_t>(n);
    for (std::size_t k = 0; k < x.size(); ++k) {
        const long i = static_cast<long>(k) - static_cast<long>(guard);  // index into the spans
        const bool slot = i >= 1 && i <= n && static_cast<std::size_t>(i) < len;
        if (!slot) FUZZ_CHECK(untouched(x[k]) && untouched(w[k]));
        // A call that fits writes every slot; one that does not fit writes none.
        if (slot && std::isfinite(x1) && std::isfinite(x2)) FUZZ_CHECK(fits != untouched(x[k]) && fits != untouched(w[k]));
    }
    if (!fits || !(std::fabs(x1) < 1e150 && std::fabs(x2) < 1e150)) return;
    // A rule integrates a constant exactly: the weights add up to the interval's length,
    // and pairs placed symmetrically weigh the same to the last bit.
    double sum = 0;
    for (int i = 1; i <= n; ++i) {
        sum += w[guard + static_cast<std::size_t>(i)];
        FUZZ_CHECK(std::bit_cast<uint64_t>(w[guard + static_cast<std::size_t>(i)]) ==
                   std::bit_cast<uint64_t>(w[guard + static_cast<std::size_t>(n + 1 - i)]));
    }
    FUZZ_CHECK(std::fabs(sum - (x2 - x1)) <= 1e-10 * std::fabs(x2 - x1) + 1e-300);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    FuzzBytes in(data, size);
    const auto istd = in.Take<int16_t>();
    const auto tcel = std::bit_cast<float>(in.Take<uint32_t>());
    const auto vdiff = std::bit_cast<float>(in.Take<uint32_t>());
    Pressure(istd, tcel, vdiff);
    Debye(std::bit_cast<double>(in.Take<uint64_t>()));
    const auto x1 = std::bit_cast<double>(in.Take<uint64_t>());
    const auto x2 = std::bit_cast<double>(in.Take<uint64_t>());
    const auto n = static_cast<int16_t>(in.Take<uint8_t>() % 45 - 4);  // -4 .. 40 points
    const auto len = static_cast<std::size_t>(in.Take<uint8_t>() % (n > 0 ? n + 3 : 3));
    Gauleg(x1, x2, n, len);
    return 0;
}
