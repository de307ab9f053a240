// The window and the shared core give the same single-precision pressure for the same
// typed inputs, to the bit: one peak through the core's fit is the window's calculation.
#include "core/numbers.h"
#include "core/pressure.h"
#include "core/standards.h"
#include "tests/window_fixture.h"

#include <cmath>
#include <cstring>
#include <random>
#include <string>

namespace {

TEST_F(WindowTest, TheWindowAndTheCoreAgreeToTheBit)
{
    std::mt19937 random(20261208);
    std::uniform_real_distribution<double> spacing(0.5, 1.3), temperature(-273.0, 2000.0);
    int compared = 0;
    for (int i = 0; i < 120; ++i) {
        const bool nacl = i % 2 == 0;
        const char* name = nacl ? "NaCl" : "CsCl";
        nacl ? ChooseNaCl() : ChooseCsCl();
        const int steps = static_cast<int>(random() % static_cast<unsigned>(w->hkl2Count));
        Plus(steps);
        const int n = w->hkl2list[static_cast<std::size_t>(w->hkl2Index - 1)];
        // A cell edge near the ambient one, typed as the spacing of the chosen reflection.
        const double d = spacing(random) * 5.64 / std::sqrt(static_cast<double>(n));
        const std::string dText = hv::Shortest(static_cast<float>(d));
        const std::string tText = hv::Shortest(static_cast<float>(temperature(random)));
        SCOPED_TRACE(std::string(name) + " n " + std::to_string(n) + " d " + dText + " t " + tText);
        const QString shown = Calc(QString::fromStdString(tText), QString::fromStdString(dText));

        const hv::Standard& standard = *hv::FindStandard(name);
        const hv::Reflection reflection{{}, n, n == 1};
        double dValue = 0, tValue = 0;
        std::string why;
        ASSERT_TRUE(hv::ParseNumber(dText, dValue, why));
        ASSERT_TRUE(hv::ParseNumber(tText, tValue, why));
        const hv::Peak peak{reflection, dValue};
        const hv::Result core = hv::Fit(standard, static_cast<float>(tValue), {&peak, 1});
        // The window keeps computing far outside any model's range; every other face refuses.
        const double vRatio = std::pow(hv::LatticeParameter(static_cast<float>(dValue), n) / standard.a0, 3);
        if (vRatio < 0.3 || vRatio > 2) {
            EXPECT_EQ(core.status, hv::Status::Error);
            continue;
        }
        if (core.status == hv::Status::Error) {
            EXPECT_TRUE(shown.isEmpty()) << core.message;
            continue;
        }
        EXPECT_EQ(std::memcmp(&core.pGpa, &w->Pressure, sizeof(float)), 0) << core.pGpa << " vs " << w->Pressure;
        int32_t k = 0;
        ASSERT_TRUE(hv::Hundredths(core.pGpa, k));
        EXPECT_EQ(shown.toDouble(), k / 100.0);
        // The window knows nothing of phase transitions; the other faces warn of them.
        if (hv::PhaseWarning(standard, core.pGpa, tValue).empty()) {
            EXPECT_EQ(core.status == hv::Status::Warning, !w->txtPressure->toolTip().isEmpty());
        }
        ++compared;
    }
    EXPECT_GT(compared, 60);
}

}  // namespace
