// One pressure on another scale: the cell volume a standard has at a pressure on one of its
// scales, then the pressure of that volume on another. This is how published scales are
// compared, and every face converts through this one function.
#pragma once

#include "core/pressure.h"
#include "core/standards.h"

#include <string>

namespace hv {

// The cell volume, angstrom^3 per conventional cell, at pGpa on a standard's scale, on its
// compressed branch; kNone where the scale never reaches pGpa (the reason in why).
double VolumeOfPressure(const Standard& standard, float tCelsius, double pGpa, std::string& why);

struct Conversion {
    Status status = Status::Error;
    std::string message;      // why, for warnings and errors
    double volume = kNone;    // the volume of pGpa on the first scale, angstrom^3 per cell
    double pressure = kNone;  // the pressure of that volume on the second scale, GPa
};

// pGpa on `from` as a pressure on `to`, both scales of one material at tCelsius. Scales of two
// materials are an error: a volume of one says nothing about the other. A warning of either
// step (a volume outside the scale's range, a phase boundary crossed) is passed on.
Conversion Convert(double pGpa, float tCelsius, const Standard& from, const Standard& to);

}  // namespace hv
