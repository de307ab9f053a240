#include "core/inverse.h"
#include "core/units.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

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

}  // namespace
