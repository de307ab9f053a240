// Random inputs for the engine's pressure operation, crowded where its arithmetic changes
// course: the V/V0 limits, no volume at all, absolute zero, the seams between the Debye
// function's regimes, unknown standard codes, huge and non-finite numbers and arbitrary bit
// patterns. Shared by the bit-identity test and its long run in bench/.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace hv_test {

struct KolvaneInput {
    int16_t istd = 1;
    float tcel = 25;
    float vdiff = 0;
};

class KolvaneInputs {
public:
    explicit KolvaneInputs(uint64_t seed) : rng_(seed) {}

    KolvaneInput Next()
    {
        KolvaneInput in;
        in.istd = Standard();
        in.vdiff = Vdiff();
        in.tcel = Temperature(in.istd, in.vdiff);
        return in;
    }

    // k steps of one unit in the last place from value (k may be negative).
    static float Step(float value, int k)
    {
        const float toward = k < 0 ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
        for (int i = 0; i < (k < 0 ? -k : k); ++i) value = std::nextafter(value, toward);
        return value;
    }

    // The Celsius temperature at which theta / T equals tnorm for this standard and volume
    // change, from the Debye temperature's own law theta0 exp((gamma0 - gamma0 x^q) / q);
    // NaN without a volume or a known standard.
    static double SeamCelsius(int16_t istd, float vdiff, double tnorm)
    {
        struct Debye { double theta0, gamma0, q; };
        constexpr std::array<Debye, 3> kLaw = {{{279, 1.59, 0.93}, {236, 1.48, 1.04}, {151, 1.99, 1.18}}};
        const double x = 1.0 + static_cast<double>(vdiff);
        if (istd < 1 || istd > 3 || !(x > 0) || !std::isfinite(x)) return std::nan("");
        const Debye& d = kLaw[static_cast<std::size_t>(istd - 1)];
        const double theta = d.theta0 * std::exp((d.gamma0 - d.gamma0 * std::pow(x, d.q)) / d.q);
        return theta / tnorm - 273.15;
    }

private:
    std::mt19937_64 rng_;

    double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }
    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    float Bits() { return std::bit_cast<float>(static_cast<uint32_t>(rng_())); }

    template <std::size_t N>
    float OneOf(const std::array<float, N>& values)
    {
        return values[static_cast<std::size_t>(Int(0, static_cast<int>(N) - 1))];
    }

    static constexpr float kInf = std::numeric_limits<float>::infinity();
    static constexpr float kMax = std::numeric_limits<float>::max();
    static constexpr float kTiny = std::numeric_limits<float>::denorm_min();

    int16_t Standard()
    {
        const int pick = Int(0, 99);
        if (pick < 90) return static_cast<int16_t>(1 + pick % 3);
        constexpr std::array<int16_t, 7> kBad = {0, 4, 5, -1, -3, INT16_MIN, INT16_MAX};
        if (pick < 96) return kBad[static_cast<std::size_t>(Int(0, static_cast<int>(kBad.size()) - 1))];
        return static_cast<int16_t>(Int(INT16_MIN, INT16_MAX));
    }

    float Vdiff()
    {
        const int pick = Int(0, 99);
        if (pick < 40) return static_cast<float>(Uniform(-0.6, 0.6));
        if (pick < 60) {
            // On and beside the limits V/V0 = 0.5 and 1.5, no volume (-1), and 1.5 itself.
            constexpr std::array<float, 4> kEdges = {-1.0f, -0.5f, 0.5f, 1.5f};
            return Step(OneOf(kEdges), Int(-16, 16));
        }
        if (pick < 70) return static_cast<float>(-1.0 + std::pow(10.0, -Uniform(0, 7)));  // nearly no volume
        if (pick < 80) {
            constexpr std::array<float, 13> kOdd = {kInf, -kInf, std::numeric_limits<float>::quiet_NaN(), kMax, -kMax,
                                                    1e10f, 1e20f, 1e30f, -1e10f, -2.0f, kTiny, 0.0f, -0.0f};
            return OneOf(kOdd);
        }
        if (pick < 90) return Bits();
        return static_cast<float>(Uniform(-1, 20));
    }

    float Temperature(int16_t istd, float vdiff)
    {
        const int pick = Int(0, 99);
        if (pick < 35) return static_cast<float>(Uniform(-273.15, 2000));
        if (pick < 45) return Step(-273.15f, Int(-20, 20));  // the single nearest absolute zero
        if (pick < 50) return static_cast<float>(Uniform(-400, -273.15));
        if (pick < 70) {
            // theta / T on either side of 20 (asymptote) or of 1e-5 (the limit 1).
            const double c = SeamCelsius(istd, vdiff, pick < 60 ? 20.0 : 1.0e-5);
            if (std::isfinite(c) && std::fabs(c) < 1e38) return Step(static_cast<float>(c), Int(-16, 16));
            return static_cast<float>(Uniform(-273.15, 2000));
        }
        if (pick < 80) {
            constexpr std::array<float, 14> kOdd = {kInf, -kInf, std::numeric_limits<float>::quiet_NaN(), kMax, -kMax,
                                                    1e38f, 1e30f, -1e30f, 1e10f, -1e10f, kTiny, 0.0f, -0.0f, 1e7f};
            return OneOf(kOdd);
        }
        if (pick < 95) return Bits();
        return static_cast<float>(Uniform(-273.15, 1e9));
    }
};

}  // namespace hv_test
