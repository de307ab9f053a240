// What the eos command writes, as text: its options read into fit options, the readable
// summary, the one-row CSV and the residual rows. Plain string work over the fitting
// library, with no files or drawing, so that the command and the browser page write the same
// bytes and refuse the same settings with the same words.
#pragma once

#include "eosfit/eosfit.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hv::rows {

// The fit's settings as typed; empty where not given.
struct EosSettings {
    std::string form = "BM3";
    std::vector<std::string> fix;  // NAME=VALUE
    std::string t0, theta0, z, atoms;
};

// The settings into fit options; false with why (naming the command's option) when one is
// unreadable or belongs to a P-V-T fit without theta0.
bool ReadEosOptions(const EosSettings& settings, eosfit::Options& options, std::string& why);

constexpr std::string_view kEosCsvHeader =
    "form,n_points,v0,sigma_v0,k0,sigma_k0,k0p,sigma_k0p,k0pp,sigma_k0pp,gamma0,sigma_gamma0,q,sigma_q,"
    "chi2,chi2_reduced,max_abs_residual_sigma,status,message";

// The row under kEosCsvHeader, LF included: a refused fit keeps only its form, the number of
// points, "error" and why; a fixed parameter its value with an empty sigma.
std::string EosCsvRow(const eosfit::Result& result, eosfit::Form form, std::size_t points);

// The readable summary of a fit that succeeded: parameters with their sigmas, chi-square and
// the correlations of the refined parameters.
std::string EosSummary(const eosfit::Result& result, const eosfit::Options& options);

// The residual file: a header and one row per point with its P residual and F-f values.
std::string EosResidualRows(std::span<const eosfit::Point> points, const eosfit::Result& result);

}  // namespace hv::rows
