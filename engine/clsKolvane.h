// Equation of state of the alkali-chloride pressure standards NaCl, KCl and CsCl:
// static ionic-lattice pressure plus a Debye thermal pressure.
//
// Every operation takes its arguments by reference, writes a result argument only
// when it has completed that result, and keeps nothing between calls.
#pragma once

#include <cstdint>
#include <span>

class clsKolvane {
public:
    // Status codes written to IERR by Kolvane.
    enum : int16_t {
        OK = 0,
        KCL_USED = 1,       // KCl standard; pressure written
        BAD_STANDARD = 2,   // ISTD not 1, 2 or 3; P untouched
        VOLUME_LOW = 3,     // V/V0 below 0.5; P written, unless there is no volume at all (VDIFF <= -1)
        VOLUME_HIGH = 4,    // V/V0 above 1.5; P written
        DEBYE_REFUSED = 5,  // negative Debye argument (temperature below 0 K); P untouched
        NOT_FINITE = 6,     // non-finite input or a pressure beyond single range; P untouched
    };

    // Pressure in kilobars of standard ISTD (1 NaCl, 2 KCl, 3 CsCl) at TCEL degrees Celsius
    // and relative cell-volume change VDIFF = (V - V0) / V0.
    void Kolvane(const int16_t& ISTD, const float& TCEL, const float& VDIFF, float& P,
                 int16_t& IERR) const;

    // Third-order Debye function D(TNORM); IERR 1 (FDEBYE untouched) for a negative argument.
    void DEBYE(const double& TNORM, double& FDEBYE, int16_t& IERR) const;

    // Debye integrand t^3 / (e^t - 1).
    double FUNC(const double& X) const;

    // N-point Gauss-Legendre rule on [X1, X2] into X[1..N] and W[1..N]; index 0 is never
    // touched. Spans too short for N are left unwritten.
    void GAULEG(const double& X1, const double& X2, std::span<double> X, std::span<double> W,
                const int16_t& N) const;
};

// The same equation of state without the final narrowing to single precision, for callers
// that need a smooth pressure: derivatives for error bars and the inverse from pressure to
// volume. With roundVdW it is exactly the arithmetic behind Kolvane.
namespace kolvane_model {

struct Outcome {
    int16_t status = clsKolvane::OK;  // as Kolvane's IERR
    bool written = false;             // whether Kolvane would store a pressure
    double p = 0;                     // kilobars, valid when written
};

// Where the Debye function's 10-point rule comes from: formed afresh on every call, as
// Kolvane does, or from roots formed once per process. The pressures are the same to the bit.
enum class Nodes { PerCall, Cached };

Outcome Evaluate(int16_t ISTD, double TCEL, double VDIFF, bool roundVdW, Nodes nodes = Nodes::PerCall);

// Kolvane with the cached roots (and the standards' derived constants formed once): the same
// P and IERR to the bit, P likewise left untouched, several times faster. For callers that
// compute many pressures; thread-safe.
void FastKolvane(const int16_t& ISTD, const float& TCEL, const float& VDIFF, float& P, int16_t& IERR);

// Nearest-neighbour distance at the reference volume divided by its ratio to the cell edge:
// the model's own ambient cell edge in angstrom, 0 for an unknown standard.
double ReferenceCellEdge(int16_t ISTD);

}  // namespace kolvane_model
