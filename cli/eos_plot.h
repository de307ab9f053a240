// Pictures of an equation-of-state fit, drawn with cairo like the pattern command's.
#pragma once

#include "cli/plot.h"
#include "samplefit/samplefit.h"

#include <span>
#include <string>

namespace hv::cli {

// P against V with both error bars and the fitted curve, the residuals below.
std::string DrawEosPv(const std::string& path, PlotFormat format, std::span<const samplefit::Point> points,
                      const samplefit::Result& result);
// F against f with F's error bars, and the line of a BM3 isotherm with the fitted K0 and K0'.
std::string DrawEosFf(const std::string& path, PlotFormat format, std::span<const samplefit::Point> points,
                      const samplefit::Result& result);
// The K0-K0' confidence ellipses at 68.3 % and 95.4 %.
std::string DrawEosEllipse(const std::string& path, PlotFormat format, const samplefit::Result& result);

}  // namespace hv::cli
