// Pictures of pattern fits, drawn with cairo: one per pattern (data, fitted profile,
// background, residual, the standard's reflections) and one of a series' pressures.
#pragma once

#include "pattern/pattern.h"

#include <span>
#include <string>
#include <string_view>

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

// One point of a series: the pressure and its uncertainty, NaN where the file has none.
struct SeriesPoint {
    double pGpa = kNone;
    double sigmaPGpa = kNone;
    bool flagged = false;  // its pressure jumps away from both neighbours
};

// P with error bars against the files' order (1 for the first); flagged points ringed.
std::string DrawSeries(const std::string& path, PlotFormat format, std::span<const SeriesPoint> points);

// Frees what cairo and fontconfig keep for the whole process (font caches), once no picture
// is being drawn any more: the program ends with nothing left allocated.
void ReleasePlotCaches();

}  // namespace hv::cli
