// The CSV rows of the pattern command: one per pattern, and one per predicted reflection for
// --peaks. Plain string work over the pattern library's results, with no threads, files or
// drawing, so that the browser page writes byte for byte what hivarnisse-calc writes.
#pragma once

#include "pattern/pattern.h"

#include <string>
#include <string_view>

namespace hv::rows {

constexpr std::string_view kPatternRowHeader =
    "file,standard,t_c,wavelength,n_peaks,a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message,"
    "fom,strong_found,strong_expected,trend,sigma_trend,zero_shift,sigma_zero_shift";
constexpr std::string_view kPeakRowHeader =
    "file,hkl,n,position,sigma_position,fwhm,eta,height,d,sigma_d,a_i,used,note,i_expected";

// Appends one line, LF included: file, standard and t_c as the user gave them (a published
// scale's standard by its full name, Au:Fei2007 for Au, and p_gpa as its double), the
// wavelength used (empty where none was needed), the number of used reflections, then the
// result's columns exactly as batch writes them; then how well the standard's expected
// pattern is explained (fom, the strongest expected reflections used and looked for, both
// empty where none was looked for), the trend of a_i as an offset of x with its sigma, and
// the refined zero offset with its sigma (empty without --zero-shift).
void AppendPatternRow(std::string& out, std::string_view file, std::string_view standardText, std::string_view tText,
                      const pattern::Outcome& outcome);

// Appends one line per predicted reflection, in the outcome's order: hkl as three digits
// (200), position, its sigma and the width in the pattern's x unit, numbers as the shortest
// text that reads back the same (empty where there is none), used 1 or 0, why not, and the
// expected relative intensity (the strongest in range 100).
void AppendPeakRows(std::string& out, std::string_view file, const pattern::Outcome& outcome);

}  // namespace hv::rows
