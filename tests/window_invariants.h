// What must hold in the calculator window after any user action, whatever was typed:
// shared by the monkey test and the window fuzzer.
#pragma once

#include "engine/clsKolvane.h"
#include "window/frmMain.h"
#include "window/numtext.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace invariants {

struct Reflection {
    int16_t hkl2;
    const char* peak;
};

// The reflection lists as crystallography gives them: NaCl is face-centred (h, k, l all
// even or all odd), CsCl primitive (every sum of three squares up to 17).
inline const std::vector<Reflection>* ListOf(const QString& standard)
{
    static const std::vector<Reflection> nacl = {{1, "L.P."},   {3, "1 1 1"},  {4, "2 0 0"},  {8, "2 2 0"},
                                                 {11, "3 1 1"}, {16, "4 0 0"}, {19, "3 3 1"}, {20, "4 2 0"}};
    static const std::vector<Reflection> cscl = {
        {1, "1 0 0 / L.P."}, {2, "1 1 0"},  {3, "1 1 1"},  {4, "2 0 0"},  {5, "2 1 0"},
        {6, "2 1 1"},        {8, "2 2 0"},  {9, "3 0 0, 2 2 1"},          {10, "3 1 0"},
        {11, "3 1 1"},       {12, "2 2 2"}, {13, "3 2 0"}, {14, "3 2 1"}, {16, "4 0 0"}, {17, "4 1 0"}};
    if (standard == QLatin1String("NaCl")) return &nacl;
    if (standard == QLatin1String("CsCl")) return &cscl;
    return nullptr;
}

// The first broken rule of the window's state and refreshed boxes, or an empty string.
// txthkl2 and txtPeak are read-only, so they show the state whatever the user typed.
inline std::string StateFault(const frmMain& w)
{
    const std::vector<Reflection>* list = ListOf(w.StandardName);
    if (!list) return "unknown standard " + w.StandardName.toStdString();
    if (w.hkl2Count != static_cast<int>(list->size()) || w.hkl2list.size() != list->size())
        return "list of " + std::to_string(w.hkl2Count) + " entries for " + w.StandardName.toStdString();
    for (std::size_t i = 0; i < list->size(); ++i) {
        if (w.hkl2list[i] != (*list)[i].hkl2) return "wrong list entry " + std::to_string(i + 1);
    }
    // The window computes with the standard it shows.
    const int shown = w.StandardName == QLatin1String("NaCl") ? 0 : 1;
    if (!w.optStandard.Selected(shown) || w.optStandard.Selected(1 - shown))
        return "the option shown is not " + w.StandardName.toStdString();
    if (w.hkl2Index < 1 || w.hkl2Index > w.hkl2Count) return "position " + std::to_string(w.hkl2Index);
    const Reflection& at = (*list)[static_cast<std::size_t>(w.hkl2Index - 1)];
    if (w.txthkl2->text() != QString::number(at.hkl2)) return "txthkl2 shows " + w.txthkl2->text().toStdString();
    if (w.txtPeak->text() != QLatin1String(at.peak)) return "txtPeak shows " + w.txtPeak->text().toStdString();
    const float ref = w.StandardName == QLatin1String("NaCl") ? 5.64f : 4.11904f;
    if (w.LatticeRef != ref) return "lattice parameter " + std::to_string(w.LatticeRef);
    return {};
}

// A refresh writes the stored temperature in a form the window reads back as the same text.
inline std::string RefreshedTemperatureFault(const frmMain& w)
{
    float t = 0;
    const QString text = w.txtT->text();
    if (numtext::TextToSingle(text, t) == numtext::Parse::Ok && numtext::SingleToText(t) == text) return {};
    return "txtT shows '" + text.toStdString() + "', which does not read back";
}

// The text a calculation with the window's stored inputs must show, worked out afresh:
// the engine's kilobars in GPa, in whole hundredths with halves to even; empty when the
// engine leaves the pressure alone or the hundredths do not fit 32 bits.
inline QString RecomputedPressure(const frmMain& w)
{
    constexpr uint32_t unwritten = 0x7fc0beefu;  // a NaN no computation produces
    float kbar = std::bit_cast<float>(unwritten);
    int16_t status = -1;
    clsKolvane().Kolvane(w.StandardCode, w.TempC, w.VolDiff, kbar, status);
    if (std::bit_cast<uint32_t>(kbar) == unwritten) return {};
    const float gpa = kbar / 10.0f;
    const double hundredths = std::nearbyint(static_cast<double>(gpa) * 100);
    if (!(hundredths >= -2147483648.0 && hundredths <= 2147483647.0)) return {};
    return numtext::DoubleToText(hundredths / 100);
}

// After an action, the result box either kept its text (nothing calculated, or the
// calculation was abandoned before the engine) or shows what the stored inputs give.
inline std::string PressureFault(const frmMain& w, const QString& before, bool mayCalculate)
{
    const QString now = w.txtPressure->text();
    if (now == before) return {};
    if (now.contains(QLatin1String("nan"), Qt::CaseInsensitive) || now.contains(QLatin1String("inf"), Qt::CaseInsensitive))
        return "result box shows " + now.toStdString();
    if (!mayCalculate) return "result box changed without a calculation: " + now.toStdString();
    const QString expected = RecomputedPressure(w);
    if (now != expected) return "result box shows '" + now.toStdString() + "', the inputs give '" + expected.toStdString() + "'";
    return {};
}

}  // namespace invariants
