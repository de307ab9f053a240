#include "web/calculator.h"

#include "core/numbers.h"
#include "core/pressure.h"
#include "core/standards.h"
#include "engine/clsKolvane.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace hv::web {

std::string ReadSingle(std::string_view text, float& value)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    if (text.empty()) return "Enter a number";
    double wide = 0;
    std::string why;
    if (!ParseNumber(text, wide, why)) {
        // Out of range either way: too large when it overflows, otherwise it vanished below
        // the smallest number, which the window calls no number either.
        if (why.find("out of range") == std::string::npos) return "Not a number";
        const std::string copy(text);
        return std::isinf(std::strtod(copy.c_str(), nullptr)) ? "Number too large" : "Not a number";
    }
    const float narrow = static_cast<float>(wide);
    if (!std::isfinite(narrow)) return "Number too large";
    value = narrow;
    return {};
}

std::string WindowText(double value, int significant)
{
    if (value == 0) value = 0;  // no "-0"
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%.*g", significant, value);
    return buffer;
}

Calculation Calculate(std::string_view standardName, std::string_view temperature, int n, std::string_view value)
{
    Calculation c;
    const auto refuse = [&c](Field field, std::string reason) {
        c.field = field;
        c.reason = std::move(reason);
        return c;
    };
    const Standard* standard = FindStandard(standardName);
    if (!standard) return refuse(Field::Pressure, "Unknown standard");
    const int16_t code = StandardCodeOf(standardName, 0);

    float tempC = 0;
    if (std::string why = ReadSingle(temperature, tempC); !why.empty()) return refuse(Field::Temperature, why);
    if (n <= 0) return refuse(Field::Value, "No reflection chosen");
    float d = 0;
    if (std::string why = ReadSingle(value, d); !why.empty()) return refuse(Field::Value, why);
    if (!(d > 0)) return refuse(Field::Value, "A spacing must be greater than zero");
    const double a = LatticeParameter(d, n);
    float volDiff = 0;
    if (!RelativeVolume(a, standard->a0, volDiff)) return refuse(Field::Value, "Number too large");

    float pressure = 0;
    int16_t errCode = 0;
    clsKolvane().Kolvane(code, tempC, volDiff, pressure, errCode);
    if (!EngineWrotePressure(errCode, volDiff)) {
        switch (errCode) {
        case clsKolvane::DEBYE_REFUSED: return refuse(Field::Temperature, "Below absolute zero");
        case clsKolvane::VOLUME_LOW: return refuse(Field::Value, "Spacing too small");
        case clsKolvane::BAD_STANDARD: return refuse(Field::Pressure, "Unknown standard");
        default: return refuse(Field::Value, "No pressure for these values");
        }
    }
    pressure = KbarToGpa(pressure);
    int32_t k = 0;
    if (!Hundredths(pressure, k)) return refuse(Field::Value, "Pressure too large to show");

    c.ok = true;
    c.pGpa = pressure;
    c.vRatio = 1.0 + static_cast<double>(volDiff);
    c.pressure = WindowText(k / 100.0, 15);
    if (errCode == clsKolvane::VOLUME_LOW || errCode == clsKolvane::VOLUME_HIGH) c.warning = RangeWarning(c.vRatio);
    return c;
}

}  // namespace hv::web
