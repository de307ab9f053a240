#include "core/scales.h"

#include "engine/clsKolvane.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace hv {

namespace {

using eos::Isotherm;
using eos::Params;
using eos::Thermal;

// ---- Structures: every atom of the conventional cell ----

#define HV_FCC(s, x, y, z) \
    Site{s, x, y, z}, Site{s, x, y + 0.5, z + 0.5}, Site{s, x + 0.5, y, z + 0.5}, Site{s, x + 0.5, y + 0.5, z}

constexpr Site kNaClSites[] = {HV_FCC("Na1+", 0, 0, 0), HV_FCC("Cl1-", 0.5, 0, 0)};
constexpr Site kKClSites[] = {HV_FCC("K1+", 0, 0, 0), HV_FCC("Cl1-", 0.5, 0, 0)};
constexpr Site kMgOSites[] = {HV_FCC("Mg2+", 0, 0, 0), HV_FCC("O2-", 0.5, 0, 0)};
constexpr Site kAuSites[] = {HV_FCC("Au", 0, 0, 0)};
constexpr Site kPtSites[] = {HV_FCC("Pt", 0, 0, 0)};
constexpr Site kNeSites[] = {HV_FCC("Ne", 0, 0, 0)};
#undef HV_FCC
constexpr Site kCsClSites[] = {{"Cs1+", 0, 0, 0}, {"Cl1-", 0.5, 0.5, 0.5}};
constexpr Site kNaClB2Sites[] = {{"Na1+", 0, 0, 0}, {"Cl1-", 0.5, 0.5, 0.5}};
constexpr Site kKClB2Sites[] = {{"K1+", 0, 0, 0}, {"Cl1-", 0.5, 0.5, 0.5}};
constexpr Site kMoSites[] = {{"Mo", 0, 0, 0}, {"Mo", 0.5, 0.5, 0.5}};
constexpr Site kWSites[] = {{"W", 0, 0, 0}, {"W", 0.5, 0.5, 0.5}};
constexpr Site kReSites[] = {{"Re", 1.0 / 3, 2.0 / 3, 0.25}, {"Re", 2.0 / 3, 1.0 / 3, 0.75}};

constexpr Structure kNaCl{"rock salt", CrystalSystem::Cubic, kNaClSites};
constexpr Structure kKCl{"rock salt", CrystalSystem::Cubic, kKClSites};
constexpr Structure kMgO{"rock salt", CrystalSystem::Cubic, kMgOSites};
constexpr Structure kAu{"fcc", CrystalSystem::Cubic, kAuSites};
constexpr Structure kPt{"fcc", CrystalSystem::Cubic, kPtSites};
constexpr Structure kNe{"fcc", CrystalSystem::Cubic, kNeSites};
constexpr Structure kCsCl{"CsCl type", CrystalSystem::Cubic, kCsClSites};
constexpr Structure kNaClB2{"CsCl type", CrystalSystem::Cubic, kNaClB2Sites};
constexpr Structure kKClB2{"CsCl type", CrystalSystem::Cubic, kKClB2Sites};
constexpr Structure kMo{"bcc", CrystalSystem::Cubic, kMoSites};
constexpr Structure kW{"bcc", CrystalSystem::Cubic, kWSites};
constexpr Structure kRe{"hcp", CrystalSystem::Hexagonal, kReSites};

// ---- Equations of state, as the papers give them ----

constexpr double kNaN = eos::kNaN;

constexpr Params Mgd(Isotherm iso, double v0, double k0, double k0p, double theta0, double gamma0, double q,
                     int z, int n, double k0pp = kNaN)
{
    return {iso, v0, k0, k0p, k0pp, Thermal::MieGruneisenDebye, 300, theta0, gamma0, q,
            kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, z, n};
}

constexpr Params Linear(Isotherm iso, double v0, double k0, double k0p, double a, double b, int z, int n = 1)
{
    return {iso, v0, k0, k0p, kNaN, Thermal::Linear, 300, kNaN, kNaN, kNaN,
            kNaN, kNaN, kNaN, kNaN, a, b, z, n};
}

constexpr Params kAuFei = Mgd(Isotherm::Vinet, 67.850, 167, 6.00, 170, 2.97, 0.6, 4, 1);
constexpr Params kAuAnderson = Linear(Isotherm::BM3, 67.850, 166.65, 5.4823, 0.00714, -0.0115, 4);
constexpr Params kPtFei = Mgd(Isotherm::Vinet, 60.38, 277, 5.08, 230, 2.72, 0.5, 4, 1);
// The paper gives the Vinet form as 3 K0 and 1.5 (K0' - 1), and the thermal pressure as
// alpha K0 with alpha = 2.61e-5 /K.
constexpr Params kPtHolmes = Linear(Isotherm::Vinet, 60.38, 798.31 / 3, 1 + 7.2119 / 1.5, 2.61e-5 * 798.31 / 3, 0, 4);
constexpr Params kMgOTange = {Isotherm::Vinet, 74.698, 160.63, 4.367, kNaN, Thermal::Tange, 300, 761, 1.442, kNaN,
                              0.138, 5.4, kNaN, kNaN, kNaN, kNaN, 4, 2};
constexpr Params kMgOSpeziale = {Isotherm::BM3, 74.698, 160.2, 3.99, kNaN, Thermal::Speziale, 300, 773, 1.524, kNaN,
                                 kNaN, kNaN, 1.65, 11.8, kNaN, kNaN, 4, 2};
constexpr Params kNaClMatsui = Mgd(Isotherm::BM4, 179.4246, 23.7, 5.14, 279, 1.56, 0.96, 4, 2, -0.392);
constexpr Params kNaClB2Fei = Mgd(Isotherm::Vinet, 41.35, 26.86, 5.25, 290, 1.70, 0.5, 1, 2);
constexpr Params kKClB2Dewaele = Linear(Isotherm::Vinet, 54.5, 17.2, 5.89, 0.00224, 0, 1, 2);
constexpr Params kKClB2Tateno = Mgd(Isotherm::Vinet, 54.5, 17.4, 5.77, 235, 1.8, 0.7, 1, 2);
constexpr Params kCsClDewaele = Mgd(Isotherm::Vinet, 70.0399, 16.74, 5.703, 151, 1.99, 1.18, 1, 2);
constexpr Params kNeFei = Mgd(Isotherm::Vinet, 88.967, 1.16, 8.23, 75.1, 2.05, 0.6, 4, 1);
constexpr Params kReZha = Linear(Isotherm::BM3, 29.4087, 360, 4.5, 0.00776, -0.00815, 2);
constexpr Params kReOno = Linear(Isotherm::Vinet, 29.4845, 384, 3.26, 0.0056, -0.00042, 2);
constexpr Params kMoHuang = Mgd(Isotherm::BM3, 31.14, 255, 4.25, 470, 2.01, 0.6, 2, 1);
constexpr Params kMoLitasov = Mgd(Isotherm::Vinet, 31.14, 260, 4.21, 470, 2.03, 0.24, 2, 1);
constexpr Params kWLitasov = Mgd(Isotherm::Vinet, 31.71, 308, 4.2, 388, 1.81, 0.71, 2, 1);

// ---- References ----

constexpr std::string_view kBuiltInReference = "J. Appl. Phys. 42, 3239 (1971)";
constexpr std::string_view kFei = "Fei et al. (2007), Proc. Natl. Acad. Sci. USA 104, 9182";
constexpr std::string_view kAnderson = "Anderson et al. (1989), J. Appl. Phys. 65, 1534";
constexpr std::string_view kHolmes = "Holmes et al. (1989), J. Appl. Phys. 66, 2962";
constexpr std::string_view kTange = "Tange et al. (2009), J. Geophys. Res. 114, B03208";
constexpr std::string_view kSpeziale = "Speziale et al. (2001), J. Geophys. Res. 106, 515";
constexpr std::string_view kMatsui = "Matsui et al. (2012), Am. Mineral. 97, 1670";
constexpr std::string_view kDewaele2012 = "Dewaele et al. (2012), Phys. Rev. B 85, 214105";
constexpr std::string_view kTateno = "Tateno et al. (2019), doi:10.2138/am-2019-6779";
constexpr std::string_view kDewaele2020 = "Dewaele (2020), doi:10.1080/08957959.2020.1774754";
constexpr std::string_view kZha = "Zha et al. (2004), doi:10.1063/1.1765752";
constexpr std::string_view kOno = "Ono (2022), doi:10.1155/2022/7545777";
constexpr std::string_view kHuang = "Huang et al. (2016), Sci. Rep. 6, 19923";
constexpr std::string_view kLitasovMo = "Litasov et al. (2013), doi:10.1063/1.4794127";
constexpr std::string_view kLitasovW = "Litasov et al. (2013), doi:10.1063/1.4799018";

constexpr std::string_view kNotStated = "not stated";

// Phase notes. The B1-B2 transitions of NaCl (about 30 GPa) and KCl (about 2 GPa) at room
// temperature, and CsCl's change to rock salt at 743 K (about 470 C) at ambient pressure,
// are the well-known boundaries; PhaseWarning in pressure.h uses the same numbers.
constexpr std::string_view kNaClB1Note = "rock salt (B1), up to about 30 GPa at room temperature; NaCl-B2 above";
constexpr std::string_view kKClB1Note = "rock salt (B1), up to about 2 GPa; KCl-B2 above";
constexpr std::string_view kCsClNote = "CsCl type; rock salt above about 470 C near ambient pressure";
constexpr std::string_view kNaClB2Note = "CsCl type (B2), above about 30 GPa";
constexpr std::string_view kKClB2Note = "CsCl type (B2), above about 2 GPa";

float CubeEdge(const Params& p)
{
    return static_cast<float>(std::cbrt(p.v0));
}

// a of a hexagonal cell of volume v with the given c/a: v = sqrt(3)/2 a^3 (c/a).
double HexagonalEdge(double v, double cOverA)
{
    return std::cbrt(2 * v / (std::sqrt(3.0) * cOverA));
}

Standard Published(std::string_view name, std::string_view material, std::string_view scale, const Params& p,
                   Lattice lattice, const Structure& structure, bool isDefault, std::string_view reference,
                   std::string_view phase = {})
{
    Standard s{name, 0, CubeEdge(p), lattice};
    s.material = material;
    s.scale = scale;
    s.eos = &p;
    s.structure = &structure;
    s.isDefault = isDefault;
    s.reference = reference;
    s.range = kNotStated;
    s.phase = phase;
    if (lattice == Lattice::Hexagonal) {
        const double a = HexagonalEdge(p.v0, kReCOverA);
        s.a0 = static_cast<float>(a);
        s.c0 = a * kReCOverA;
        s.cOverA = kReCOverA;
    }
    return s;
}

Standard BuiltIn(std::string_view name, int16_t code, float a0, Lattice lattice, const Structure& structure,
                 std::string_view phase)
{
    Standard s{name, code, a0, lattice};
    s.material = name;
    s.scale = "built-in";
    s.structure = &structure;
    s.isDefault = true;
    s.reference = kBuiltInReference;
    s.range = kNotStated;
    s.phase = phase;
    return s;
}

std::string Number(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.10g", value);
    return buffer;
}

}  // namespace

std::span<const Standard> AllStandards()
{
    // KCl is not offered by the window; its ambient cell is the model's own.
    static const std::array<Standard, 20> all = {{
        BuiltIn("NaCl", 1, 5.64f, Lattice::RockSalt, kNaCl, kNaClB1Note),
        BuiltIn("KCl", 2, static_cast<float>(kolvane_model::ReferenceCellEdge(2)), Lattice::RockSalt, kKCl,
                kKClB1Note),
        BuiltIn("CsCl", 3, 4.11904f, Lattice::Primitive, kCsCl, kCsClNote),
        Published("Au:Fei2007", "Au", "Fei2007", kAuFei, Lattice::RockSalt, kAu, true, kFei),
        Published("Au:Anderson1989", "Au", "Anderson1989", kAuAnderson, Lattice::RockSalt, kAu, false, kAnderson),
        Published("Pt:Fei2007", "Pt", "Fei2007", kPtFei, Lattice::RockSalt, kPt, true, kFei),
        Published("Pt:Holmes1989", "Pt", "Holmes1989", kPtHolmes, Lattice::RockSalt, kPt, false, kHolmes),
        Published("MgO:Tange2009", "MgO", "Tange2009", kMgOTange, Lattice::RockSalt, kMgO, true, kTange),
        Published("MgO:Speziale2001", "MgO", "Speziale2001", kMgOSpeziale, Lattice::RockSalt, kMgO, false, kSpeziale),
        Published("NaCl:Matsui2012", "NaCl", "Matsui2012", kNaClMatsui, Lattice::RockSalt, kNaCl, false, kMatsui,
                  kNaClB1Note),
        Published("NaCl-B2:Fei2007", "NaCl-B2", "Fei2007", kNaClB2Fei, Lattice::Primitive, kNaClB2, true, kFei,
                  kNaClB2Note),
        Published("KCl-B2:Dewaele2012", "KCl-B2", "Dewaele2012", kKClB2Dewaele, Lattice::Primitive, kKClB2, true,
                  kDewaele2012, kKClB2Note),
        Published("KCl-B2:Tateno2019", "KCl-B2", "Tateno2019", kKClB2Tateno, Lattice::Primitive, kKClB2, false, kTateno,
                  kKClB2Note),
        Published("CsCl:Dewaele2020", "CsCl", "Dewaele2020", kCsClDewaele, Lattice::Primitive, kCsCl, false,
                  kDewaele2020, kCsClNote),
        Published("Ne:Fei2007", "Ne", "Fei2007", kNeFei, Lattice::RockSalt, kNe, true, kFei,
                  "fcc solid above about 4.7 GPa at room temperature"),
        Published("Re:Zha2004", "Re", "Zha2004", kReZha, Lattice::Hexagonal, kRe, true, kZha),
        Published("Re:Ono2022", "Re", "Ono2022", kReOno, Lattice::Hexagonal, kRe, false, kOno),
        Published("Mo:Huang2016", "Mo", "Huang2016", kMoHuang, Lattice::BodyCentred, kMo, true, kHuang),
        Published("Mo:Litasov2013", "Mo", "Litasov2013", kMoLitasov, Lattice::BodyCentred, kMo, false, kLitasovMo),
        Published("W:Litasov2013", "W", "Litasov2013", kWLitasov, Lattice::BodyCentred, kW, true, kLitasovW),
    }};
    return all;
}

double AmbientVolume(const Standard& standard)
{
    if (standard.eos) return standard.eos->v0;
    const double a0 = standard.a0;
    return a0 * a0 * a0;
}

std::string DescribeEos(const eos::Params& p)
{
    std::string out;
    switch (p.isotherm) {
    case Isotherm::Vinet: out = "Vinet"; break;
    case Isotherm::BM2: out = "Birch-Murnaghan 2nd order"; break;
    case Isotherm::BM3: out = "Birch-Murnaghan 3rd order"; break;
    case Isotherm::BM4: out = "Birch-Murnaghan 4th order"; break;
    }
    out += ", V0 " + Number(p.v0) + " A^3, K0 " + Number(p.k0) + " GPa";
    if (p.isotherm != Isotherm::BM2) out += ", K0' " + Number(p.k0p);
    if (p.isotherm == Isotherm::BM4) out += ", K0'' " + Number(p.k0pp) + " /GPa";
    switch (p.thermal) {
    case Thermal::None: break;
    case Thermal::MieGruneisenDebye:
        out += "; Mie-Grueneisen-Debye theta0 " + Number(p.theta0) + " K, gamma0 " + Number(p.gamma0) + ", q " +
               Number(p.q);
        break;
    case Thermal::Tange:
        out += "; Tange's Grueneisen form theta0 " + Number(p.theta0) + " K, gamma0 " + Number(p.gamma0) + ", a " +
               Number(p.a) + ", b " + Number(p.b);
        break;
    case Thermal::Speziale:
        out += "; Speziale's Grueneisen form theta0 " + Number(p.theta0) + " K, gamma0 " + Number(p.gamma0) +
               ", q0 " + Number(p.q0) + ", q1 " + Number(p.q1);
        break;
    case Thermal::Linear:
        out += "; linear thermal pressure A " + Number(p.linA) + " GPa/K, B " + Number(p.linB) + " GPa/K";
        break;
    }
    out += "; T0 " + Number(p.t0) + " K; Z " + std::to_string(p.z) + ", n " + std::to_string(p.n);
    return out;
}

}  // namespace hv
