#include "tests/dac_synth.h"

#include "core/form_factors.h"
#include "core/inverse.h"
#include "core/units.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdio>
#include <map>
#include <tuple>

namespace dacsynth {

namespace {

constexpr double kPi = 3.14159265358979323846;

double Degrees(double radians) { return radians * 180 / kPi; }

// 1/d^2 of (h k l) in the phase's cell.
double InverseSquareD(const Phase& p, int h, int k, int l)
{
    switch (p.cell) {
        case Cell::Cubic: return (h * h + k * k + l * l) / (p.a * p.a);
        case Cell::Hexagonal: return 4.0 / 3.0 * (h * h + h * k + k * k) / (p.a * p.a) + l * l / (p.c * p.c);
        case Cell::Orthorhombic: return h * h / (p.a * p.a) + k * k / (p.b * p.b) + l * l / (p.c * p.c);
    }
    return 0;
}

// The hkl that share a spacing by the cell's metric, whatever the atoms: the key of a line.
std::tuple<int, int, int> LineKey(const Phase& p, int h, int k, int l)
{
    switch (p.cell) {
        case Cell::Cubic: return {h * h + k * k + l * l, 0, 0};
        case Cell::Hexagonal: return {h * h + h * k + k * k, l * l, 0};
        case Cell::Orthorhombic: return {h * h, k * k, l * l};
    }
    return {0, 0, 0};
}

// The four face-centring translations applied to one site.
void AddFaceCentred(std::vector<Atom>& atoms, Scatterer s, double x, double y, double z)
{
    static constexpr std::array<std::array<double, 3>, 4> shift = {{{0, 0, 0}, {0, .5, .5}, {.5, 0, .5}, {.5, .5, 0}}};
    for (const auto& t : shift) {
        atoms.push_back({s, std::fmod(x + t[0], 1.0), std::fmod(y + t[1], 1.0), std::fmod(z + t[2], 1.0)});
    }
}

}  // namespace

// ---- Random numbers ----

double Random::Uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

double Random::Uniform(double lo, double hi) { return lo + (hi - lo) * Uniform(); }

double Random::LogUniform(double lo, double hi) { return std::exp(Uniform(std::log(lo), std::log(hi))); }

double Random::Normal()
{
    if (haveSpare_) {
        haveSpare_ = false;
        return spare_;
    }
    const double u1 = 1 - Uniform();  // (0, 1]: the logarithm stays finite
    const double u2 = Uniform();
    const double r = std::sqrt(-2 * std::log(u1));
    spare_ = r * std::sin(2 * kPi * u2);
    haveSpare_ = true;
    return r * std::cos(2 * kPi * u2);
}

double Random::Poisson(double mean)
{
    if (!(mean > 0)) return 0;
    if (mean > 50) return std::max(0.0, std::round(mean + std::sqrt(mean) * Normal()));
    // Knuth's product of uniforms, exact for small means.
    const double limit = std::exp(-mean);
    double product = Uniform();
    int count = 0;
    while (product > limit) {
        product *= Uniform();
        ++count;
    }
    return count;
}

int Random::Int(int lo, int hi)
{
    return lo + static_cast<int>(std::floor(Uniform() * (hi - lo + 1)));
}

// ---- Structures and their reflections ----

double BraggTwoTheta(double d, double wavelength)
{
    const double s = wavelength / (2 * d);
    return s > 0 && s <= 1 ? Degrees(2 * std::asin(s)) : std::nan("");
}

double PseudoVoigt(double dx, double fwhm, double eta)
{
    const double z = 2 * dx / fwhm;  // 1 at half maximum for both shapes
    return eta / (1 + z * z) + (1 - eta) * std::exp(-std::log(2.0) * z * z);
}

std::vector<Line> Lines(const Phase& p, double wavelength, double dMin)
{
    const double longest = std::max({p.a, p.b, p.c});
    const int top = static_cast<int>(std::ceil(1.2 * longest / dMin)) + 1;
    struct Sum {
        int h = 0, k = 0, l = 0, count = 0;
        double f2 = 0, d = 0;
    };
    std::map<std::tuple<int, int, int>, Sum> groups;
    for (int h = -top; h <= top; ++h) {
        for (int k = -top; k <= top; ++k) {
            for (int l = -top; l <= top; ++l) {
                if (h == 0 && k == 0 && l == 0) continue;
                const double q = InverseSquareD(p, h, k, l);
                if (q > 1 / (dMin * dMin)) continue;
                const double d = 1 / std::sqrt(q);
                if (wavelength > 2 * d) continue;
                const double s2 = q / 4;  // (sin(theta) / lambda)^2
                std::complex<double> f = 0;
                for (const Atom& atom : p.atoms) {
                    const double phase = 2 * kPi * (h * atom.x + k * atom.y + l * atom.z);
                    f += atom.scatterer.At(s2) * std::polar(1.0, phase);
                }
                Sum& g = groups[LineKey(p, h, k, l)];
                g.f2 += std::norm(f);
                g.d = d;
                ++g.count;
                if (std::tie(h, k, l) > std::tie(g.h, g.k, g.l)) {
                    g.h = h;
                    g.k = k;
                    g.l = l;
                }
            }
        }
    }
    double strongest = 0;
    for (const auto& [key, g] : groups) strongest = std::max(strongest, g.f2 / g.count);
    std::vector<Line> out;
    for (const auto& [key, g] : groups) {
        if (g.f2 / g.count < 1e-6 * strongest) continue;
        Line line;
        line.h = g.h;
        line.k = g.k;
        line.l = g.l;
        line.n = p.cell == Cell::Cubic ? std::get<0>(key) : 0;
        line.multiplicity = g.count;
        line.d = g.d;
        line.twoTheta = BraggTwoTheta(g.d, wavelength);
        const double theta = line.twoTheta / 2 * kPi / 180;
        const double c2 = std::cos(2 * theta);
        const double lp = (1 + c2 * c2) / (std::sin(theta) * std::sin(theta) * std::cos(theta));
        const double s2 = 1 / (4 * g.d * g.d);
        line.intensity = g.f2 * lp * std::exp(-2 * p.bIso * s2);
        out.push_back(line);
    }
    std::sort(out.begin(), out.end(), [](const Line& x, const Line& y) { return x.d > y.d; });
    return out;
}

double Scatterer::At(double s2) const
{
    if (!published) return z * std::exp(-b * s2);
    double f = published->c;
    for (std::size_t i = 0; i < published->a.size(); ++i) f += published->a[i] * std::exp(-published->b[i] * s2);
    return f;
}

Scatterer Ion(const std::string& name)
{
    // What real crystals scatter with: the International Tables' form factors (a single
    // falling Gaussian per ion, tried first, made NaCl's odd reflections 3-6 times too strong
    // against the even ones, for the difference of two ions is where such a model is worst).
    std::string key = name;
    if (key.size() >= 2 && (key.back() == '+' || key.back() == '-') && !std::isdigit(static_cast<unsigned char>(key[key.size() - 2]))) {
        key.insert(key.size() - 1, "1");  // "Na+" is "Na1+"
    }
    const hv::FormFactor* f = hv::FindFormFactor(key);
    if (!f) return {};
    Scatterer out{0, 0, f};
    out.z = std::round(out.At(0));  // the electron count, which the fit gives to ~0.1
    return out;
}

Phase RockSalt(const std::string& name, Scatterer cation, Scatterer anion, double a)
{
    Phase p{name, Cell::Cubic, a, a, a, {}, 1.5};
    AddFaceCentred(p.atoms, cation, 0, 0, 0);
    AddFaceCentred(p.atoms, anion, .5, .5, .5);
    return p;
}

Phase CsClType(const std::string& name, Scatterer first, Scatterer second, double a)
{
    Phase p{name, Cell::Cubic, a, a, a, {}, 2.0};
    p.atoms = {{first, 0, 0, 0}, {second, .5, .5, .5}};
    return p;
}

Phase Fcc(const std::string& name, Scatterer atom, double a)
{
    Phase p{name, Cell::Cubic, a, a, a, {}, 0.6};
    AddFaceCentred(p.atoms, atom, 0, 0, 0);
    return p;
}

Phase Bcc(const std::string& name, Scatterer atom, double a)
{
    Phase p{name, Cell::Cubic, a, a, a, {}, 0.4};
    p.atoms = {{atom, 0, 0, 0}, {atom, .5, .5, .5}};
    return p;
}

Phase Hcp(const std::string& name, Scatterer atom, double a, double c)
{
    Phase p{name, Cell::Hexagonal, a, a, c, {}, 0.4};
    p.atoms = {{atom, 1.0 / 3, 2.0 / 3, 0.25}, {atom, 2.0 / 3, 1.0 / 3, 0.75}};
    return p;
}

bool Knows(const hv::Standard& standard)
{
    if (!standard.structure || standard.structure->sites.empty()) return false;
    for (const hv::Site& site : standard.structure->sites) {
        if (Ion(std::string(site.species)).z == 0) return false;
    }
    return true;
}

Phase StandardPhase(const hv::Standard& standard, double a, double c)
{
    const hv::Structure& s = *standard.structure;
    const bool hexagonal = s.system == hv::CrystalSystem::Hexagonal;
    Phase p{std::string(standard.name), hexagonal ? Cell::Hexagonal : Cell::Cubic, a, a, hexagonal ? c : a, {}, 1.0};
    // Thermal motion: ionic cells loose (rock salt 1.5, CsCl type 2 angstrom^2), metals stiff.
    p.bIso = s.name == "CsCl type" ? 2.0 : s.name == "rock salt" ? 1.5 : 0.5;
    for (const hv::Site& site : s.sites) p.atoms.push_back({Ion(std::string(site.species)), site.x, site.y, site.z});
    return p;
}

PressureRange Pressures(const hv::Standard& standard)
{
    const std::string_view m = standard.material.empty() ? standard.name : standard.material;
    if (m == "NaCl") return {0, 30};
    if (m == "KCl") return {0, 2};
    if (m == "CsCl") return {0, 40};
    if (m == "NaCl-B2") return {30, 100};
    if (m == "KCl-B2") return {2, 50};
    if (m == "Ne") return {5, 100};
    return {0, 100};
}

// ---- A pattern ----

namespace {

struct Hump {
    double height = 0, centre = 0, fwhm = 0;
    bool lorentzian = false;
};

// The smooth part: a Compton-like slope across the range, a fall from the low-angle side
// (air and the diamonds' small-angle scattering) and the broad humps of amorphous matter.
struct Background {
    double from = 0, to = 0, level = 0, slope = 0, decay = 0, decayDegrees = 1;
    std::vector<Hump> humps;
    double At(double x) const
    {
        const double f = (x - from) / (to - from);
        double y = level * (1 + slope * f) + level * decay * std::exp(-(x - from) / decayDegrees);
        for (const Hump& h : humps) y += h.height * PseudoVoigt(x - h.centre, h.fwhm, h.lorentzian ? 1 : 0);
        return y;
    }
};

// A line as drawn: where, how high, how wide.
struct Drawn {
    double twoTheta = 0, height = 0, fwhm = 0;
    bool mimic = false;
};

// The lines of a phase inside [from, to], heights relative to its strongest (integrated
// intensity over width, times a lognormal texture factor of sd 0.5), scaled to strength.
std::vector<Drawn> Draw(const std::vector<Line>& lines, double strength, double from, double to, Random& rnd,
                        const auto& fwhmAt, std::vector<double>* texture = nullptr)
{
    std::vector<Drawn> out;
    double top = 0;
    for (const Line& l : lines) {
        if (l.twoTheta < from || l.twoTheta > to) continue;
        const double factor = std::exp(0.5 * rnd.Normal());
        if (texture) texture->push_back(factor);
        out.push_back({l.twoTheta, l.intensity / fwhmAt(l.twoTheta), fwhmAt(l.twoTheta), false});
        top = std::max(top, out.back().height);
        out.back().height *= factor;
    }
    for (Drawn& d : out) d.height *= strength / top;
    return out;
}

std::string Named(const Phase& p, const char* kind)
{
    char b[96];
    if (p.cell == Cell::Hexagonal) {
        std::snprintf(b, sizeof b, "%s %s a=%.4f c=%.4f", p.name.c_str(), kind, p.a, p.c);
    } else if (p.cell == Cell::Orthorhombic) {
        std::snprintf(b, sizeof b, "%s %s a=%.4f b=%.4f c=%.4f", p.name.c_str(), kind, p.a, p.b, p.c);
    } else {
        std::snprintf(b, sizeof b, "%s %s a=%.4f", p.name.c_str(), kind, p.a);
    }
    return b;
}

// A low-symmetry sample: a few atoms at random places in an orthorhombic cell, many lines.
Phase Sample(Random& rnd)
{
    Phase p{"sample", Cell::Orthorhombic, rnd.Uniform(3.5, 7.5), rnd.Uniform(3.5, 7.5), rnd.Uniform(3.5, 7.5), {}, 1.0};
    const int atoms = rnd.Int(2, 4);
    for (int i = 0; i < atoms; ++i) {
        const Scatterer s{static_cast<double>(rnd.Int(8, 30)), 2.0};
        p.atoms.push_back({s, rnd.Uniform(), rnd.Uniform(), rnd.Uniform()});
    }
    return p;
}

}  // namespace

Made Make(const Recipe& r)
{
    Random rnd(r.seed);
    const hv::Standard& standard = *r.standard;
    Made made;
    Truth& truth = made.truth;

    // The standard's state: a pressure over its range, mostly at room temperature.
    const double u = rnd.Uniform();
    double tc = !std::isnan(r.tCelsius) ? r.tCelsius : u < .6 ? 25 : u < .75 ? 150 : u < .9 ? 300 : 500;
    const PressureRange range = Pressures(standard);
    double p = !std::isnan(r.pGpa) ? r.pGpa : rnd.Uniform(range.lo, range.hi);
    hv::SpacingResult state;
    for (int tries = 0;; ++tries) {
        state = hv::SpacingsAt(standard, static_cast<float>(tc), p, 1);
        if (state.status != hv::Status::Ok && std::isnan(r.tCelsius) && tc != 25) {
            tc = 25;  // a pressure the model does not reach when hot: take it at room temperature
            continue;
        }
        // Soft solids (Ne) pass V/V0 0.55 long before the range ends: no cell is squeezed
        // that far in a search for it, so neither here.
        if ((state.status == hv::Status::Ok && state.vRatio >= 0.55) || !std::isnan(r.pGpa) || tries > 40) break;
        p = rnd.Uniform(range.lo, p);
    }
    truth.standard = &standard;
    truth.present = r.positive;
    truth.a = state.a;
    truth.c = state.c;
    truth.tCelsius = tc;
    truth.pGpa = p;

    // The geometry: d from about 5 angstrom down to 0.85-1.3, 2,000-5,000 points.
    const double lambda = !std::isnan(r.wavelength) ? r.wavelength : rnd.Uniform(0.2, 0.62);
    const double dMin = rnd.Uniform(0.85, 1.3);
    const double from = BraggTwoTheta(rnd.Uniform(4.4, 5.5), lambda);
    const double to = BraggTwoTheta(dMin, lambda);
    const int points = rnd.Int(2000, 5000);
    const double step = (to - from) / (points - 1);
    // Widths: 2.5-6 points per FWHM, growing with angle; each phase its own broadening.
    const double w0 = rnd.Uniform(2.5, 4.0), w1 = rnd.Uniform(0, 2.0), eta = rnd.Uniform(0.1, 0.7);
    const auto widthOf = [&](double factor) {
        return [=](double x) { return std::clamp((w0 + w1 * (x - from) / (to - from)) * factor, 2.5, 6.0) * step; };
    };

    Background bg;
    bg.from = from;
    bg.to = to;
    bg.level = rnd.LogUniform(200, 5000);
    bg.slope = rnd.Uniform(-0.6, 0.8);
    bg.decay = rnd.Uniform(0, 1.5);
    bg.decayDegrees = rnd.Uniform(1, 4);
    for (int k = rnd.Int(1, 3); k > 0; --k) {
        bg.humps.push_back({bg.level * rnd.Uniform(0.3, 2), rnd.Uniform(from, to), rnd.Uniform(2, 8), rnd.Uniform() < .5});
    }
    const double signal = !std::isnan(r.signal) ? r.signal : rnd.LogUniform(25, 400);
    const double reference = signal * std::sqrt(bg.level);

    // The standard, drawn for negatives too so that both share every other random number.
    const std::vector<Line> own = Lines(StandardPhase(standard, truth.a, truth.c), lambda, 0.97 * dMin);
    std::vector<double> texture;
    std::vector<Drawn> lines = Draw(own, 1, from, to, rnd, widthOf(1.0), &texture);
    double strongestAt = from;
    {
        // The strongest line before texture stands signal times the noise above the background.
        double top = 0;
        for (const Line& l : own) {
            if (l.twoTheta >= from && l.twoTheta <= to && l.intensity > top) {
                top = l.intensity;
                strongestAt = l.twoTheta;
            }
        }
        const double height = signal * std::sqrt(bg.At(strongestAt));
        std::size_t k = 0;
        for (const Line& l : own) {
            if (l.twoTheta < from || l.twoTheta > to) continue;
            Line kept = l;
            kept.intensity *= texture[k];
            truth.standardLines.push_back(kept);
            lines[k].height = height * l.intensity / top * texture[k] *
                              (widthOf(1.0)(strongestAt) / widthOf(1.0)(l.twoTheta));
            ++k;
        }
    }
    if (!r.positive) lines.clear();
    const std::vector<Drawn> ownDrawn = lines;

    const std::string_view kind = standard.structure->name;
    // The crowd: pressure medium, gasket, sample, and sometimes a lattice with the
    // standard's d-ratios in the standard's own range.
    std::vector<std::pair<Phase, const char*>> crowd;
    const double m = rnd.Uniform();
    if (m < .4) {
        crowd.push_back({Fcc("Ne", Ion("Ne"), rnd.Uniform(3.6, 4.3)), "fcc"});
    } else if (m < .75) {
        crowd.push_back({Fcc("Ar", Ion("Ar"), rnd.Uniform(4.4, 5.2)), "fcc"});
    }
    const double g = rnd.Uniform();
    if (g < .5) {
        const double s = rnd.Uniform(0.9, 1.0);
        crowd.push_back({Hcp("Re", Ion("Re"), 2.761 * s, 4.456 * s * rnd.Uniform(0.99, 1.01)), "hcp"});
    } else if (g < .8) {
        crowd.push_back({Bcc("Fe", Ion("Fe"), rnd.Uniform(2.55, 2.87)), "bcc"});
    } else {
        crowd.push_back({Bcc("W", Ion("W"), rnd.Uniform(3.0, 3.165)), "bcc"});
    }
    const double s = rnd.Uniform();
    if (s < .35) {
        crowd.push_back({Fcc("Au", Ion("Au"), rnd.Uniform(3.75, 4.08)), "fcc"});
    } else if (s < .6) {
        crowd.push_back({Fcc("Pt", Ion("Pt"), rnd.Uniform(3.65, 3.924)), "fcc"});
    } else {
        crowd.push_back({Sample(rnd), "orthorhombic"});
    }
    const bool mimic = rnd.Uniform() < .35;
    if (mimic) {
        // Anywhere between V/V0 0.55 and 1.02 of the standard, but not on its own lattice.
        const double a0 = standard.a0;
        double am = a0 * std::cbrt(rnd.Uniform(0.55, 1.02));
        for (int tries = 0; tries < 20 && std::fabs(am - truth.a) < 0.03 * truth.a; ++tries) {
            am = a0 * std::cbrt(rnd.Uniform(0.55, 1.02));
        }
        const Scatterer atom{static_cast<double>(rnd.Int(20, 80)), 1.3};
        const bool bcc = standard.lattice == hv::Lattice::Primitive && rnd.Uniform() < .5;
        if (kind == "fcc") {
            // An fcc metal's ratios in a rock salt of two ions of one electron count (as
            // KCl): its odd reflections, 111 first, all but gone.
            const double z = rnd.Int(10, 36);
            crowd.push_back({RockSalt("mimic", {z, 1.8}, {z, 2.6}, am), "rock salt"});
        } else if (kind == "hcp") {
            // Close packed the other way: fcc 111 on hcp 002, 220 on 110.
            crowd.push_back({Fcc("mimic", atom, am * std::sqrt(2.0)), "fcc"});
        } else {
            crowd.push_back({bcc ? Bcc("mimic", atom, am) : Fcc("mimic", atom, am), bcc ? "bcc" : "fcc"});
        }
        truth.mimic = true;
    }
    const int budget = rnd.Int(20, 60);
    std::vector<Drawn> others;
    const auto add = [&](const Phase& phase, const char* kind, bool isMimic) {
        std::vector<Drawn> d = Draw(Lines(phase, lambda, 0.97 * dMin), reference * rnd.LogUniform(0.3, 6), from, to,
                                    rnd, widthOf(rnd.Uniform(0.85, 1.3)));
        for (Drawn& x : d) x.mimic = isMimic;
        others.insert(others.end(), d.begin(), d.end());
        truth.crowd.push_back(Named(phase, kind));
    };
    // A phase of the standard's own kind inside its range would be the standard itself.
    const auto itself = [&](const Phase& phase, const char* k) {
        return k == kind && phase.a > standard.a0 * std::cbrt(0.45) && phase.a < standard.a0 * std::cbrt(1.15);
    };
    for (const auto& [phase, k] : crowd) {
        if (!itself(phase, k)) add(phase, k, phase.name == "mimic");
    }
    if (static_cast<int>(others.size()) < budget && s < .6) add(Sample(rnd), "orthorhombic", false);
    // Past the budget only the strongest of the crowd are seen; a mimic stays whole.
    std::stable_sort(others.begin(), others.end(), [](const Drawn& x, const Drawn& y) {
        return x.mimic != y.mimic ? x.mimic : x.height > y.height;
    });
    if (static_cast<int>(others.size()) > budget) others.resize(static_cast<std::size_t>(budget));
    truth.crowdLines = static_cast<int>(others.size());
    lines.insert(lines.end(), others.begin(), others.end());

    // The expected counts, then single-crystal spikes one or two points wide.
    std::vector<double> mean(static_cast<std::size_t>(points));
    for (int i = 0; i < points; ++i) mean[static_cast<std::size_t>(i)] = bg.At(from + i * step);
    for (const Drawn& d : lines) {
        const int centre = static_cast<int>(std::lround((d.twoTheta - from) / step));
        const int reach = static_cast<int>(40 * d.fwhm / step) + 1;
        for (int i = std::max(0, centre - reach); i <= std::min(points - 1, centre + reach); ++i) {
            mean[static_cast<std::size_t>(i)] += d.height * PseudoVoigt(from + i * step - d.twoTheta, d.fwhm, eta);
        }
    }
    for (int k = rnd.Int(0, 4); k > 0; --k) {
        const int at = rnd.Int(0, points - 2);
        const double height = reference * rnd.LogUniform(3, 40);
        mean[static_cast<std::size_t>(at)] += height;
        if (rnd.Uniform() < .5) mean[static_cast<std::size_t>(at) + 1] += height * rnd.Uniform(0.3, 1);
    }

    hv::pattern::Pattern& pat = made.pattern;
    pat.x.resize(static_cast<std::size_t>(points));
    pat.intensity.resize(static_cast<std::size_t>(points));
    for (int i = 0; i < points; ++i) {
        pat.x[static_cast<std::size_t>(i)] = from + i * step;
        pat.intensity[static_cast<std::size_t>(i)] = rnd.Poisson(mean[static_cast<std::size_t>(i)]);
    }
    // Detector edges and gaps between modules read exactly zero.
    const auto zero = [&](int first, int count) {
        for (int i = std::max(0, first); i < std::min(points, first + count); ++i) pat.intensity[static_cast<std::size_t>(i)] = 0;
    };
    if (rnd.Uniform() < .5) zero(0, rnd.Int(1, points * 4 / 100));
    if (rnd.Uniform() < .5) {
        const int n = rnd.Int(1, points * 4 / 100);
        zero(points - n, n);
    }
    for (int k = rnd.Int(0, 2); k > 0; --k) zero(rnd.Int(0, points - 31), rnd.Int(5, 30));

    for (const Drawn& d : ownDrawn) {
        const int centre = static_cast<int>(std::lround((d.twoTheta - from) / step));
        if (centre < 0 || centre >= points || pat.intensity[static_cast<std::size_t>(centre)] == 0) continue;
        if (d.height < 5 * std::sqrt(bg.At(d.twoTheta))) continue;
        const bool apart = std::none_of(others.begin(), others.end(), [&](const Drawn& o) {
            return std::fabs(o.twoTheta - d.twoTheta) < 2 * std::max(o.fwhm, d.fwhm) && o.height > d.height / 4;
        });
        truth.clearLines += apart;
    }

    pat.unit = hv::XUnit::TwoThetaDeg;
    pat.wavelength = lambda;
    pat.format = "xy";
    return made;
}

std::string WriteXy(const hv::pattern::Pattern& pattern)
{
    std::string s;
    char b[64];
    std::snprintf(b, sizeof b, "%.9g", pattern.wavelength * 1e-10);
    s += "# generated diamond-anvil-cell pattern\n# Wavelength: " + std::string(b) + " m\n# 2th_deg I\n";
    for (std::size_t i = 0; i < pattern.x.size(); ++i) {
        std::snprintf(b, sizeof b, "%.9g %.9g\n", pattern.x[i], pattern.intensity[i]);
        s += b;
    }
    return s;
}

}  // namespace dacsynth
