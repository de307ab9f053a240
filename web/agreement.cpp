// Random inputs through the core, the same ones in the native build and in WebAssembly, each
// answer packed into a fixed-size record: tests/web/agreement.mjs compares the two builds
// record by record. Natively a program (records on standard output, or "bench N"); in
// WebAssembly a module for Node with the same two functions.
#include "core/inverse.h"
#include "core/numbers.h"
#include "core/pressure.h"
#include "core/standards.h"
#include "web/calculator.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// splitmix64: every point draws from its own seed, so any range of points can be made alone.
struct Random {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    double Uniform(double lo, double hi) { return lo + (hi - lo) * static_cast<double>(Next() >> 11) * 0x1p-53; }
    int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
};

// One record: what the page would show or hand back for one random input.
struct Record {
    // Fit of one peak: the window's single, and the doubles around it.
    uint32_t pBits;
    uint8_t status, calcOk, parseOk, floatTextLength;
    double a, sigmaA, vRatio, sigmaP;
    // Fit of three peaks.
    uint32_t p3Bits;
    uint32_t calcBits;
    double a3, sigmaP3;
    // The inverse, on a tenth of the points (NaN elsewhere).
    double spacingA, spacingTwoTheta;
    // Numbers and text: a random double written shortest, a random text read.
    double parsed;
    char doubleText[32];
    char floatText[16];
    char calcText[24];
};
static_assert(sizeof(Record) == 160);

uint32_t Bits(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

void Copy(char* to, std::size_t size, const std::string& text)
{
    std::memset(to, 0, size);
    std::memcpy(to, text.data(), std::min(size, text.size()));
}

// A number as a person or a file might write it, now and then absurd.
std::string RandomNumberText(Random& r)
{
    static const char* const kOdd[] = {"", "-", "+", ".", "e5", "1e", "inf", "nan", "1e400", "-1e-400", "0e99999",
                                       "2.4703282292062328e-324", "1.7976931348623159e308", "00012", "1..2", "-0"};
    if (r.Below(8) == 0) return kOdd[r.Below(16)];
    std::string t = r.Below(4) == 0 ? "-" : "";
    const int whole = r.Below(12), frac = r.Below(20);
    for (int i = 0; i < whole; ++i) t += static_cast<char>('0' + r.Below(10));
    if (frac > 0 || whole == 0) t += '.';
    for (int i = 0; i < frac; ++i) t += static_cast<char>('0' + r.Below(10));
    if (r.Below(3) == 0) t += "e" + std::to_string(r.Below(700) - 350);
    return t;
}

void Point(uint64_t seed, uint64_t index, Record& out)
{
    Random r{seed * 0x100000001b3ULL + index};
    std::memset(&out, 0, sizeof out);
    const hv::Standard& standard = hv::Standards()[static_cast<std::size_t>(r.Below(3))];
    const std::vector<hv::Hkl> reflections = hv::Reflections(standard, 20);
    const float t = static_cast<float>(r.Below(50) == 0 ? r.Uniform(-400, -200) : r.Uniform(-270, 1500));
    const hv::Hkl hkl = reflections[static_cast<std::size_t>(r.Below(static_cast<int>(reflections.size())))];
    const int n = hv::SquareSum(hkl);
    // Mostly within the model's range, sometimes far beyond it on either side.
    const double scale = r.Below(20) == 0 ? r.Uniform(0.2, 3) : r.Uniform(0.75, 1.12);
    const double a = standard.a0 * scale;
    const double d = a / std::sqrt(n);
    const double sigmaD = r.Below(3) == 0 ? hv::kNone : r.Uniform(1e-5, 1e-2);
    const double sigmaT = r.Below(2) == 0 ? hv::kNone : r.Uniform(0, 20);

    const hv::Peak peak{{hkl, n, false}, d, sigmaD};
    const hv::Result one = hv::Fit(standard, t, {&peak, 1}, sigmaT);
    out.pBits = Bits(one.pGpa);
    out.status = static_cast<uint8_t>(one.status);
    out.a = one.a;
    out.sigmaA = one.sigmaA;
    out.vRatio = one.vRatio;
    out.sigmaP = one.sigmaPGpa;

    hv::Peak three[3];
    for (hv::Peak& p : three) {
        const hv::Hkl h = reflections[static_cast<std::size_t>(r.Below(static_cast<int>(reflections.size())))];
        p = {{h, hv::SquareSum(h), false}, a * r.Uniform(0.999, 1.001) / std::sqrt(hv::SquareSum(h)), sigmaD};
    }
    const hv::Result fit = hv::Fit(standard, t, three, sigmaT);
    out.p3Bits = Bits(fit.pGpa);
    out.a3 = fit.a;
    out.sigmaP3 = fit.sigmaPGpa;

    out.spacingA = out.spacingTwoTheta = hv::kNone;
    if (index % 10 == 0) {
        // Drawn one by one: the order in which arguments are evaluated differs between compilers.
        const double pGpa = r.Uniform(-2, 60);
        const double wavelength = r.Uniform(0.2, 1.6);
        const hv::SpacingResult s = hv::SpacingsAt(standard, t, pGpa, 20, wavelength);
        if (s.status != hv::Status::Error) {
            out.spacingA = s.a;
            out.spacingTwoTheta = s.rows.back().twoTheta;
        }
    }

    // The window's calculator on the texts a person types.
    const std::string tText = hv::Shortest(static_cast<float>(t));
    const std::string dText = r.Below(10) == 0 ? RandomNumberText(r) : hv::Shortest(static_cast<float>(d));
    const hv::web::Calculation c = hv::web::Calculate(standard.name, tText, n, dText);
    out.calcOk = c.ok;
    out.calcBits = Bits(c.pGpa);
    Copy(out.calcText, sizeof out.calcText, c.ok ? c.pressure : c.reason);

    // Any double (random bits, NaN and infinities aside) and any float, written shortest.
    uint64_t bits = r.Next();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    if (!std::isfinite(x)) x = r.Uniform(-1e300, 1e300);
    Copy(out.doubleText, sizeof out.doubleText, hv::Shortest(x));
    const uint32_t fbits = static_cast<uint32_t>(r.Next());
    float f;
    std::memcpy(&f, &fbits, sizeof f);
    if (!std::isfinite(f)) f = static_cast<float>(r.Uniform(-1e30, 1e30));
    const std::string ft = hv::Shortest(f);
    out.floatTextLength = static_cast<uint8_t>(ft.size());
    Copy(out.floatText, sizeof out.floatText, ft);

    std::string why;
    double parsed = hv::kNone;
    out.parseOk = hv::ParseNumber(RandomNumberText(r), parsed, why);
    out.parsed = out.parseOk ? parsed : 0;
}

}  // namespace

// Records of points start .. start + count - 1 into out.
extern "C" void hv_records(uint32_t seed, uint32_t start, uint32_t count, Record* out)
{
    for (uint32_t i = 0; i < count; ++i) Point(seed, start + i, out[i]);
}

// Nanoseconds per one-peak fit, the page's unit of work, over count random points.
extern "C" double hv_bench(uint32_t count)
{
    Random r{12345};
    const hv::Standard& standard = *hv::FindStandard("NaCl");
    std::vector<hv::Peak> peaks(count);
    for (hv::Peak& p : peaks) p = {{{2, 0, 0}, 4, false}, r.Uniform(2.5, 2.9), 0.001};
    volatile float sink = 0;
    const auto begin = std::chrono::steady_clock::now();
    for (const hv::Peak& p : peaks) sink = sink + hv::Fit(standard, 25, {&p, 1}, 2).pGpa;
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(end - begin).count() / count;
}

extern "C" uint32_t hv_record_size()
{
    return sizeof(Record);
}

#ifndef __EMSCRIPTEN__
// hv_web_agreement SEED START COUNT: records on standard output; hv_web_agreement bench N.
int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "bench") == 0) {
        std::printf("%.3f\n", hv_bench(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10))));
        return 0;
    }
    if (argc != 4) {
        std::fprintf(stderr, "usage: hv_web_agreement SEED START COUNT | bench N\n");
        return 2;
    }
    const auto seed = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
    const auto start = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const auto count = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
    std::vector<Record> records(4096);
    for (uint32_t done = 0; done < count;) {
        const uint32_t now = std::min<uint32_t>(4096, count - done);
        hv_records(seed, start + done, now, records.data());
        std::fwrite(records.data(), sizeof(Record), now, stdout);
        done += now;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
#endif
