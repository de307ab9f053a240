// Pictures of pattern fits, drawn with cairo: one per pattern (data, fitted profile,
// background, residual, the standard's reflections) and one of a series' pressures.
#pragma once

#include "pattern/pattern.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hv::cli {

enum class PlotFormat { Png, Svg };

// ".png" or ".svg".
std::string_view PlotExtension(PlotFormat format);

// What the title says beside the numbers of the outcome.
struct FitCaption {
    std::string_view file;      // as the user named it
    std::string_view standard;  // the standard's name
    float tCelsius = 0;
};

// Draws one fit into path; empty on success, otherwise why not.
std::string DrawFit(const std::string& path, PlotFormat format, const pattern::Pattern& pattern,
                    const pattern::Outcome& outcome, const FitCaption& caption);

// What a fit's picture draws, decided apart from the drawing. A refused pattern draws its
// data only; otherwise a fitted window is drawn only where a used reflection lies in it, so
// that a fit that failed, or whose reflections were all left out, is never drawn as a curve.
struct FitLayers {
    std::vector<double> curve, background, residual;  // on the pattern's x; NaN where not drawn
    bool fit = false;          // some curve is drawn
    bool reflections = false;  // reflection ticks are drawn
    bool used = false, leftOut = false;  // ticks of either kind among them
    bool residualPanel = false;
};
FitLayers ChooseLayers(const pattern::Pattern& pattern, const pattern::Outcome& outcome);

// Label positions for marks at `at` (ascending): each at least pitch after the one before,
// none outside [lo, hi] while they fit; crowded labels move along, keeping their order.
std::vector<double> SpreadLabels(std::span<const double> at, double pitch, double lo, double hi);

// One point of a series: the pressure and its uncertainty, NaN where the file has none.
struct SeriesPoint {
    double pGpa = kNone;
    double sigmaPGpa = kNone;
    std::string label;      // the file, or its temperature; empty: the point's number
    bool flagged = false;   // a row to look at again (a warning, a jump from its neighbours)
};

// P with error bars against the files' order (1 for the first): refused files as crosses on
// the axis, flagged ones ringed; the points named by their labels while they fit below.
std::string DrawSeries(const std::string& path, PlotFormat format, std::span<const SeriesPoint> points);

// Frees what cairo and fontconfig keep for the whole process (font caches), once no picture
// is being drawn any more: the program ends with nothing left allocated.
void ReleasePlotCaches();

}  // namespace hv::cli
