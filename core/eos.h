// Equations of state as data: an isotherm at T0 (Vinet or Birch-Murnaghan of order 2, 3, 4)
// plus a thermal pressure (Mie-Grueneisen-Debye, Tange's or Speziale's Grueneisen forms, or
// linear in T). The published pressure scales and the sample fits use this one copy.
//
// Units: volumes in any unit consistent with v0 (angstrom^3 per conventional cell for the
// standards; the thermal forms that need a molar volume take angstrom^3 per cell with z),
// pressures and moduli in GPa, temperatures in kelvin. Every function returns NaN for bad
// parameters (k0 <= 0, v0 <= 0, a missing coefficient), for v <= 0, for T <= 0 and for NaN
// input; none throws.
#pragma once

#include <limits>

namespace hv::eos {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

enum class Isotherm { Vinet, BM2, BM3, BM4 };  // BM2 = BM3 with K0' = 4
enum class Thermal { None, MieGruneisenDebye, Tange, Speziale, Linear };

struct Params {
    Isotherm isotherm = Isotherm::BM3;
    double v0 = kNaN;      // volume at P = 0, T0 (angstrom^3 per conventional cell for standards)
    double k0 = kNaN;      // GPa
    double k0p = 4;        // K0'
    double k0pp = kNaN;    // 1/GPa, BM4 only
    Thermal thermal = Thermal::None;
    double t0 = 300;       // K
    double theta0 = kNaN, gamma0 = kNaN;  // MGD, Tange, Speziale
    double q = kNaN;                      // MGD
    double a = kNaN, b = kNaN;            // Tange
    double q0 = kNaN, q1 = kNaN;          // Speziale
    double linA = kNaN, linB = kNaN;      // Linear, GPa/K
    int z = 1;             // formula units per cell (molar volume V_m = V_cell N_A / Z)
    int n = 1;             // atoms per formula unit (E_m = 9 n R T ...)
};

// Gas constant J/(mol K) and Avogadro's number, as the thermal energy uses them.
inline constexpr double kGasConstant = 8.31446261815324;
inline constexpr double kAvogadro = 6.02214076e23;

// Whether the parameters describe an equation of state these functions can evaluate.
bool Valid(const Params& p);

double IsothermPressure(const Params& p, double v);            // GPa at T0
double ThermalPressure(const Params& p, double v, double tK);  // P_th(V,T) - P_th(V,T0), GPa; 0 for None
double Pressure(const Params& p, double v, double tK);         // the sum
double BulkModulus(const Params& p, double v, double tK);      // -V dP/dV at constant T, GPa
double ThermalSlope(const Params& p, double v, double tK);     // dP/dT at constant V, GPa/K

// The volume whose pressure at tK is pGpa, on the compressed branch: where the pressure turns
// (a minimum under strong tension, a maximum of a fourth-order isotherm under strong
// compression) the branch through V0 ends. NaN where that branch never reaches pGpa.
double VolumeAt(const Params& p, double pGpa, double tK);

// Grueneisen parameter and Debye temperature at v for the Debye-type thermal forms; NaN for
// None and Linear.
double Gruneisen(const Params& p, double v);
double DebyeTemperature(const Params& p, double v);

// integral_0^x t^3 / (e^t - 1) dt to near double precision, x >= 0 (pi^4/15 as x -> infinity);
// NaN for x < 0.
double DebyeIntegral3(double x);

}  // namespace hv::eos
