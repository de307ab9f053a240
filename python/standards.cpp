// hivarnisse.standards() and hivarnisse.convert(): the table of standards and scales as Python
// sees it, and one pressure on another scale. Numbers and words come from the core's table,
// as hivarnisse-calc standards lists them.
#include "core/convert.h"
#include "core/crystal.h"
#include "core/eos.h"
#include "core/numbers.h"
#include "core/scales.h"
#include "core/standards.h"

#include <pybind11/pybind11.h>

#include <cmath>
#include <string>

#include "arguments.h"
#include "docstrings.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

const char* IsothermName(hv::eos::Isotherm i)
{
    switch (i) {
    case hv::eos::Isotherm::Vinet: return "Vinet";
    case hv::eos::Isotherm::BM2: return "BM2";
    case hv::eos::Isotherm::BM3: return "BM3";
    case hv::eos::Isotherm::BM4: return "BM4";
    }
    return "";
}

const char* ThermalName(hv::eos::Thermal t)
{
    switch (t) {
    case hv::eos::Thermal::None: return "none";
    case hv::eos::Thermal::MieGruneisenDebye: return "MGD";
    case hv::eos::Thermal::Tange: return "Tange";
    case hv::eos::Thermal::Speziale: return "Speziale";
    case hv::eos::Thermal::Linear: return "linear";
    }
    return "";
}

// None where the table gives no number, so that a missing coefficient is never taken for 0.
py::object Number(double value)
{
    return std::isnan(value) ? py::object(py::none()) : py::object(py::float_(value));
}

py::dict Row(const hv::Standard& s)
{
    py::dict row("name"_a = std::string(s.name), "material"_a = std::string(s.material),
                 "scale"_a = std::string(s.scale), "default"_a = s.isDefault,
                 "structure"_a = s.structure ? std::string(s.structure->name) : std::string(),
                 "crystal_system"_a = !s.structure || s.structure->system == hv::CrystalSystem::Cubic ? "cubic"
                                                                                                        : "hexagonal",
                 "equation"_a = s.eos ? hv::DescribeEos(*s.eos) : std::string(hv::kBuiltInModel), "reference"_a = std::string(s.reference),
                 "range"_a = std::string(s.range), "phase"_a = std::string(s.phase));
    row["v0"] = Number(hv::AmbientVolume(s));
    if (!s.eos) {
        row["isotherm"] = "built-in";
        row["thermal"] = "built-in";
        return row;
    }
    const hv::eos::Params& p = *s.eos;
    row["z"] = p.z;
    row["n"] = p.n;
    row["isotherm"] = IsothermName(p.isotherm);
    row["k0"] = Number(p.k0);
    row["k0p"] = Number(p.k0p);
    row["k0pp"] = Number(p.k0pp);
    row["thermal"] = ThermalName(p.thermal);
    row["t0"] = Number(p.t0);
    const std::pair<const char*, double> thermal[] = {{"theta0", p.theta0}, {"gamma0", p.gamma0}, {"q", p.q},
                                                      {"a", p.a},           {"b", p.b},           {"q0", p.q0},
                                                      {"q1", p.q1},         {"lin_a", p.linA},    {"lin_b", p.linB}};
    for (const auto& [key, value] : thermal) {
        if (!std::isnan(value)) row[key] = value;
    }
    return row;
}

py::list Standards()
{
    py::list out;
    for (const hv::Standard& s : hv::AllStandards()) out.append(Row(s));
    return out;
}

const hv::Standard& Named(const char* argument, const std::string& name)
{
    const hv::Standard* s = hv::FindStandardAnyCase(name);
    if (!s) {
        throw py::value_error(std::string(argument) + ": unknown standard " + hv::Quoted(name) + ": known are " +
                              hv::AllStandardNames());
    }
    return *s;
}

py::dict Convert(double pGpa, const py::object& tC, const std::string& fromName, const std::string& toName)
{
    const hv::Standard& from = Named("from_standard", fromName);
    const hv::Standard& to = Named("to_standard", toName);
    // A number, or text as the command line reads it ("298.15K").
    const float t = static_cast<float>(hv::python::TemperatureArg(tC).cast<double>());
    hv::Conversion c;
    if (std::string why; !hv::CheckTemperature(t, why)) {
        c.message = why;
    } else {
        py::gil_scoped_release unlocked;
        c = hv::Convert(pGpa, t, from, to);
    }
    return py::dict("p_gpa"_a = c.pressure, "volume"_a = c.volume, "from_standard"_a = std::string(from.name),
                    "to_standard"_a = std::string(to.name), "status"_a = std::string(hv::StatusName(c.status)),
                    "message"_a = c.message);
}

}  // namespace

void RegisterStandards(py::module_& m)
{
    m.def("standards", &Standards, doc::kStandards);
    m.def("convert", &Convert, doc::kConvert, "p_gpa"_a, "t_c"_a, "from_standard"_a, "to_standard"_a);
}
