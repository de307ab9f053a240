// The pressure and spacing commands: arguments as typed in, the answer as text. The command
// line and the page give the same answers from this one copy.
#pragma once

#include <string>
#include <vector>

namespace hv::rows {

struct PressureRequest {
    std::string standard, temperature, sigmaT;  // sigmaT empty: not given
    std::vector<std::string> peaks;             // HKL:D[:SIGMA_D]
    bool csv = false;
    // Peaks as measured: 2-theta in degrees at a wavelength (angstrom) or beam energy (keV),
    // or photon energies in keV at a fixed 2-theta (degrees). Empty texts: not given.
    bool twoTheta = false, energyDispersive = false;
    std::string wavelength = {}, energy = {}, twoThetaFixed = {};
    // A cell volume in angstrom^3 instead of peaks, and its sigma; empty: not given.
    std::string volume = {}, sigmaVolume = {};
    // "all": one answer per scale of the standard's material; empty: the standard as named.
    std::string scale = {};
};

struct SpacingRequest {
    std::string standard, temperature, pressure, wavelength;  // wavelength empty: not given
    int maxN = 20;
    bool csv = false;
};

// Each writes its answer to out and any problem to err, and returns the exit status:
// 0 answered (perhaps with a warning), 1 the model gives no answer, 2 a bad argument.
int RunPressure(const PressureRequest& request, std::string& out, std::string& err);
int RunSpacing(const SpacingRequest& request, std::string& out, std::string& err);

}  // namespace hv::rows
