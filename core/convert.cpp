#include "core/convert.h"

#include "core/eos.h"
#include "core/inverse.h"

#include <cmath>

namespace hv {

double VolumeOfPressure(const Standard& standard, float tCelsius, double pGpa, std::string& why)
{
    // SpacingsAt inverts either model, the built-in one and every published one, and checks
    // what it is given; no reflections are needed here.
    const SpacingResult s = SpacingsAt(standard, tCelsius, pGpa, 0);
    if (s.status == Status::Error) {
        why = s.message;
        return kNone;
    }
    why = s.message;
    return s.volume;
}

Conversion Convert(double pGpa, float tCelsius, const Standard& from, const Standard& to)
{
    Conversion out;
    if (from.material != to.material) {
        out.message = std::string(from.name) + " and " + std::string(to.name) +
                      " are different materials: the volume of one says nothing about the other";
        return out;
    }
    std::string why;
    out.volume = VolumeOfPressure(from, tCelsius, pGpa, why);
    if (std::isnan(out.volume)) {
        out.message = why;
        return out;
    }
    const Result r = PressureOfVolume(to, tCelsius, out.volume);
    if (r.status == Status::Error) {
        out.message = r.message;
        return out;
    }
    out.pressure = r.pressure;
    std::string warning = why;
    if (r.status == Status::Warning && r.message != why) warning += (warning.empty() ? "" : "; ") + r.message;
    out.status = warning.empty() ? Status::Ok : Status::Warning;
    out.message = warning;
    return out;
}

}  // namespace hv
