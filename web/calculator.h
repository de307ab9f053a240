// The page's calculator: the window's "Calc ->" on the texts typed into its boxes, step by
// step through the core, with the window's reasons when an input is refused.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace hv::web {

// Which box a reason belongs to, as the window puts the cursor there.
enum class Field { None, Temperature, Value, Pressure };

struct Calculation {
    bool ok = false;
    Field field = Field::None;  // where the reason belongs when !ok
    std::string reason;         // "Not a number", "Below absolute zero", ...
    std::string pressure;       // GPa as the window writes it ("2.15"), "." for the separator
    std::string warning;        // V/V0 outside the equation's range: the number stands
    float pGpa = 0;             // the single-precision pressure before rounding
    double vRatio = 0;
};

// The window's text-to-single reading of text already in C form ("." separator): the empty
// string on success, otherwise the window's reason.
std::string ReadSingle(std::string_view text, float& value);

// standardName as the window holds it ("NaCl", "CsCl"), n the h^2+k^2+l^2 of the current step.
Calculation Calculate(std::string_view standardName, std::string_view temperature, int n, std::string_view value);

// The window's number-to-text rule: at most `significant` digits (7 for singles, 15 for
// doubles), no trailing zeros, no "-0", "." as separator.
std::string WindowText(double value, int significant);

}  // namespace hv::web
