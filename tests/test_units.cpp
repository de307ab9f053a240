#include "core/inverse.h"
#include "core/units.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

namespace {

using hv::XUnit;
constexpr double kNaN = NAN;

// Positions whose spacing follows from textbook geometry: sin 30 deg = 1/2, sin 45 deg = 1/sqrt 2.
TEST(Units, SpacingOfHandComputedPositions)
{
    const double hc = 12.398419843320026;
    struct Case {
        XUnit unit;
        double x;
        hv::Geometry g;
        double d;
    } cases[] = {
        {XUnit::TwoThetaDeg, 60, {0.4133, kNaN}, 0.4133},
        {XUnit::TwoThetaDeg, 90, {1.0, kNaN}, 1 / std::sqrt(2.0)},
        {XUnit::TwoThetaDeg, 180, {2.0, kNaN}, 1.0},
        {XUnit::TwoThetaRad, std::numbers::pi / 3, {0.7, kNaN}, 0.7},
        {XUnit::QPerAngstrom, 2 * std::numbers::pi, {kNaN, kNaN}, 1.0},
        {XUnit::QPerNm, 10 * std::numbers::pi, {kNaN, kNaN}, 2.0},
        {XUnit::DAngstrom, 2.75, {kNaN, kNaN}, 2.75},
        {XUnit::EnergyKev, hc, {kNaN, 60}, 1.0},
        {XUnit::EnergyKev, 30, {kNaN, 12}, hc / (2 * 30 * std::sin(6 * std::numbers::pi / 180))},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(hv::SpacingAt(c.unit, c.x, c.g), c.d, 1e-14 * c.d) << hv::XUnitName(c.unit) << " " << c.x;
        EXPECT_NEAR(hv::PositionOf(c.unit, c.d, c.g), c.x, 1e-12 * c.x) << hv::XUnitName(c.unit);
    }
    EXPECT_NEAR(hv::WavelengthOfEnergy(30), 0.41328066144400087, 1e-16);
}

TEST(Units, PositionsWithoutSpacing)
{
    const hv::Geometry none{kNaN, kNaN};
    EXPECT_TRUE(std::isnan(hv::SpacingAt(XUnit::TwoThetaDeg, 10, none)));     // no wavelength
    EXPECT_TRUE(std::isnan(hv::SpacingAt(XUnit::TwoThetaDeg, 0, {1, kNaN})));  // 2-theta 0
    EXPECT_TRUE(std::isnan(hv::SpacingAt(XUnit::TwoThetaDeg, 181, {1, kNaN})));
    EXPECT_TRUE(std::isnan(hv::SpacingAt(XUnit::TwoThetaDeg, 10, {-1, kNaN})));
    EXPECT_TRUE(std::isnan(hv::SpacingAt(XUnit::QPerAngstrom, -1, none)));
    EXPECT_TRUE(std::isnan(hv::SpacingAt(XUnit::EnergyKev, 30, none)));        // no fixed angle
    EXPECT_TRUE(std::isnan(hv::SpacingAt(XUnit::EnergyKev, 30, {kNaN, 0})));
    EXPECT_TRUE(std::isnan(hv::PositionOf(XUnit::TwoThetaDeg, 0.4, {1, kNaN})));  // lambda > 2d
    std::string why;
    EXPECT_FALSE(hv::CheckGeometry(XUnit::TwoThetaDeg, none, why));
    EXPECT_NE(why.find("wavelength"), std::string::npos);
    EXPECT_FALSE(hv::CheckGeometry(XUnit::EnergyKev, none, why));
    EXPECT_NE(why.find("fixed 2-theta"), std::string::npos);
    EXPECT_TRUE(hv::CheckGeometry(XUnit::QPerNm, none, why));
}

// dd/dx against a wide central difference of d itself.
TEST(Units, SlopeCarriesAPositionsUncertainty)
{
    // 2-theta 60 deg at lambda 1: d = 1 / (2 sin t/2), |dd/dt| = cos 30 / (4 sin^2 30) = 0.866 per radian.
    EXPECT_NEAR(hv::SpacingSlope(XUnit::TwoThetaDeg, 60, {1, kNaN}), std::sqrt(3.0) / 2 * std::numbers::pi / 180,
                1e-15);
    struct Case {
        XUnit unit;
        double x;
        hv::Geometry g;
    } cases[] = {{XUnit::TwoThetaDeg, 9.1, {0.4133, kNaN}}, {XUnit::TwoThetaRad, 0.3, {0.7, kNaN}},
                 {XUnit::QPerAngstrom, 2.3, {kNaN, kNaN}}, {XUnit::QPerNm, 23, {kNaN, kNaN}},
                 {XUnit::DAngstrom, 2, {kNaN, kNaN}},       {XUnit::EnergyKev, 40, {kNaN, 9}}};
    for (const Case& c : cases) {
        const double h = 1e-5 * c.x;
        const double numeric = std::fabs(hv::SpacingAt(c.unit, c.x + h, c.g) - hv::SpacingAt(c.unit, c.x - h, c.g)) / (2 * h);
        EXPECT_NEAR(hv::SpacingSlope(c.unit, c.x, c.g), numeric, 1e-8 * numeric) << hv::XUnitName(c.unit);
    }
}

TEST(Units, NamesOfUsersAndFiles)
{
    struct Case {
        const char* text;
        XUnit unit;
    } cases[] = {{"2theta", XUnit::TwoThetaDeg}, {"2th_deg", XUnit::TwoThetaDeg}, {"2TH_RAD", XUnit::TwoThetaRad},
                 {"q_A^-1", XUnit::QPerAngstrom}, {"q_nm^-1", XUnit::QPerNm},    {"d_A", XUnit::DAngstrom},
                 {"keV", XUnit::EnergyKev}};
    for (const Case& c : cases) {
        XUnit u = XUnit::DAngstrom;
        EXPECT_TRUE(hv::ParseXUnit(c.text, u)) << c.text;
        EXPECT_EQ(u, c.unit) << c.text;
    }
    XUnit u;
    EXPECT_FALSE(hv::ParseXUnit("2theta ", u));
    EXPECT_FALSE(hv::ParseXUnit("chi", u));
    EXPECT_EQ(hv::XUnitChoices(), "2theta|2theta_rad|q_A|q_nm|d|kev");
}

// Each 2-theta that the inverse lists, converted back, is the listed spacing.
TEST(Units, RoundTripWithTheInverse)
{
    const hv::Standard& nacl = *hv::FindStandard("NaCl");
    const hv::SpacingResult s = hv::SpacingsAt(nacl, 25, 10, 20, 0.4133);
    ASSERT_EQ(s.status, hv::Status::Ok);
    for (const hv::SpacingRow& row : s.rows) {
        EXPECT_NEAR(hv::SpacingAt(XUnit::TwoThetaDeg, row.twoTheta, {0.4133, kNaN}), row.d, 1e-13 * row.d);
    }
}

// A position and its sigma made into the core's peak. sigma_d by hand: at 2-theta 60 deg,
// dd/d(2-theta) = d cot(30 deg) / 2 = d sqrt(3) / 2 per radian; for energies dd/dE = d / E.
TEST(Units, PeakOfAMeasuredPosition)
{
    const double hc = 12.398419843320026;
    const hv::Reflection r200{{2, 0, 0}, 4, false};
    const double perDegree = std::numbers::pi / 180;
    struct Case {
        XUnit unit;
        double x, sigmaX;
        hv::Geometry g;
        double d, sigmaD;
    } cases[] = {
        {XUnit::TwoThetaDeg, 60, 0.01, {2.75, kNaN}, 2.75, 2.75 * std::sqrt(3.0) / 2 * perDegree * 0.01},
        {XUnit::TwoThetaDeg, 60, kNaN, {2.75, kNaN}, 2.75, kNaN},
        {XUnit::TwoThetaDeg, 90, 0.02, {hv::WavelengthOfEnergy(hc), kNaN}, 1 / std::sqrt(2.0),
         1 / std::sqrt(2.0) / 2 * perDegree * 0.02},
        {XUnit::EnergyKev, hc / 2.75, 0.01, {kNaN, 60}, 2.75, 2.75 / (hc / 2.75) * 0.01},
        {XUnit::DAngstrom, 2.75, 0.0005, {kNaN, kNaN}, 2.75, 0.0005},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(hv::XUnitName(c.unit)) + " " + std::to_string(c.x));
        hv::Peak p;
        std::string why;
        ASSERT_TRUE(hv::PeakAt(r200, c.unit, c.x, c.sigmaX, c.g, p, why)) << why;
        EXPECT_NEAR(p.d, c.d, 1e-15 * c.d);
        if (std::isnan(c.sigmaD)) {
            EXPECT_TRUE(std::isnan(p.sigmaD));
        } else {
            EXPECT_NEAR(p.sigmaD, c.sigmaD, 1e-12 * c.sigmaD);
        }
        EXPECT_EQ(p.reflection.n, 4);
    }
}

// The faces' refusals come from here; what only the core decides, checked here.
TEST(Units, PeakOfABadPosition)
{
    const hv::Reflection r200{{2, 0, 0}, 4, false};
    struct Case {
        XUnit unit;
        double x, sigmaX;
        hv::Geometry g;
        const char* why;
    } cases[] = {
        {XUnit::TwoThetaDeg, 9, kNaN, {kNaN, kNaN}, "2-theta needs a wavelength (angstrom) or an X-ray energy (keV)"},
        {XUnit::TwoThetaDeg, kNaN, kNaN, {1, kNaN}, "2-theta must lie above 0 and at most 180 degrees"},
        {XUnit::TwoThetaDeg, 9, INFINITY, {1, kNaN}, "the sigma of 2-theta must be a positive number"},
        // d = 1 / (pi / 180 * 1e-40) = 5.7296e41 A, far beyond single precision: Fit's refusal, said here.
        {XUnit::TwoThetaDeg, 1e-40, kNaN, {1, kNaN}, "that position gives d = 5.7295779513082"},
        {XUnit::EnergyKev, 30, kNaN, {kNaN, kNaN}, "energies need the detector's fixed 2-theta (degrees)"},
        {XUnit::DAngstrom, 2.75, 0, {kNaN, kNaN}, "sigma_d must be a positive number"},
    };
    for (const Case& c : cases) {
        hv::Peak p{r200, 1.5, 0.25};
        std::string why;
        EXPECT_FALSE(hv::PeakAt(r200, c.unit, c.x, c.sigmaX, c.g, p, why)) << c.why;
        EXPECT_EQ(why.substr(0, std::string(c.why).size()), c.why);
        EXPECT_EQ(p.d, 1.5);  // a refused position leaves the peak alone
        if (c.x == 1e-40) {
            EXPECT_EQ(why.substr(why.size() - 17), "A: d out of range") << why;
        }
    }
}

}  // namespace
