// Fields of the CSV the commands write: numbers as the shortest text that reads back the
// same, and a result's computed columns. Plain string work, no threads or files, so that
// every face (the browser page too) writes byte for byte the same rows.
#pragma once

#include "core/pressure.h"

#include <string>
#include <string_view>

namespace hv::rows {

// Whether a standard is on a published scale rather than the built-in ionic-lattice model:
// its pressure is written as the double it is computed in, the built-in model's as the
// window's single-precision number.
inline bool IsPublishedScale(const Standard& standard)
{
    return IsPublished(standard);
}

// Appends ",scale": the name every output gives a standard ("NaCl", "Au:Fei2007"); just ","
// for none.
void AppendScale(std::string& line, const Standard* standard);
inline void AppendScale(std::string& line, const Standard& standard)
{
    AppendScale(line, &standard);
}

// The columns before the computed ones of "pressure --volume --csv".
constexpr std::string_view kVolumeHeader = "volume,sigma_volume,standard,t_c";

// The computed columns, after the input's own or after a pattern's.
constexpr std::string_view kResultHeader = "a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message";

// Appends ",value" as hv::Shortest writes it; just "," for NaN.
void AppendNumber(std::string& line, double value);

// Appends ",a,sigma_a,v_ratio,p_gpa,sigma_p_gpa,status,message" for a result: numbers as the
// shortest text that reads back the same, empty where there is none or on an error.
void AppendResult(std::string& line, const Result& result);
// The same for a result of this standard: p_gpa is the double a published scale computes,
// or the built-in model's single-precision number as above.
void AppendResult(std::string& line, const Result& result, const Standard& standard);

}  // namespace hv::rows
