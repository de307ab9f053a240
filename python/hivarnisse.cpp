// The Python module "hivarnisse": numpy arrays through the same core as the window and
// hivarnisse-calc. Everything numeric happens in core; this file reads arrays, hands out work
// and packs results.
#include "core/cell.h"
#include "core/hexagonal_rows.h"
#include "core/inverse.h"
#include "core/numbers.h"
#include "core/pressure.h"
#include "core/standards.h"
#include "core/units.h"
#include "engine/clsKolvane.h"
#include "python/arguments.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Cut a text for a message at a character boundary, so that it stays valid UTF-8.
std::string Shown(std::string text, std::size_t limit = 40)
{
    if (text.size() <= limit) return text;
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut) + "...";
}

// Core messages quote the user's text cut at a byte count: never let that fail to decode.
py::str ToPython(const std::string& text)
{
    PyObject* s = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    if (!s) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

const hv::Standard& StandardArg(const std::string& name)
{
    const hv::Standard* s = hv::FindStandardAnyCase(name);
    if (!s) {
        throw py::value_error("unknown standard \"" + Shown(name) + "\": known are " + hv::AllStandardNames());
    }
    return *s;
}

py::module_ Numpy()
{
    return py::module_::import("numpy");
}

py::tuple ShapeTuple(const std::vector<py::ssize_t>& shape)
{
    py::tuple out(shape.size());
    for (std::size_t i = 0; i < shape.size(); ++i) out[i] = py::int_(shape[i]);
    return out;
}

py::array AsDoubles(const py::object& value)
{
    return Numpy().attr("asarray")(value, "dtype"_a = "float64");
}

// None means "not given": NaN, as core reads an absent uncertainty.
py::array AsOptionalDoubles(const py::object& value)
{
    return value.is_none() ? AsDoubles(py::float_(kNaN)) : AsDoubles(value);
}

// A single number (a Python or numpy scalar, or a 0-d array).
double ScalarArg(const char* name, const py::object& value)
{
    const py::array a = AsDoubles(value);
    if (a.ndim() != 0) {
        throw py::value_error(std::string(name) + " must be a single number, not an array of shape " +
                              py::str(py::tuple(a.attr("shape"))).cast<std::string>());
    }
    return a.attr("item")().cast<double>();
}

double OptionalScalarArg(const char* name, const py::object& value)
{
    return value.is_none() ? kNaN : ScalarArg(name, value);
}

// ---- Reflections: every distinct text parsed once ----

struct ParsedReflection {
    std::string text;
    std::optional<hv::Reflection> reflection;
    std::string why;
};

struct Reflections {
    std::vector<ParsedReflection> distinct;
    py::array index;  // int32, the shape of the hkl argument: which entry of distinct
};

// One element of a numpy unicode array (UCS4, padded with zeros) as UTF-8.
std::string Utf8(const char32_t* chars, std::size_t width)
{
    while (width > 0 && chars[width - 1] == 0) --width;
    std::string out;
    for (std::size_t i = 0; i < width; ++i) {
        char32_t c = chars[i];
        if (c >= 0xD800 && (c < 0xE000 || c > 0x10FFFF)) c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

Reflections ReadReflections(const py::object& hkl, const hv::Standard& standard)
{
    const py::module_ np = Numpy();
    py::array arr = np.attr("asarray")(hkl);
    const char kind = arr.dtype().kind();
    if (arr.size() == 0) {
        arr = np.attr("empty")(arr.attr("shape"), "dtype"_a = "U1");
    } else if (kind == 'O') {
        // Strings, and whole numbers as their digits (200 is "200"); a float is too easily
        // meant as something else.
        py::array flat = arr.attr("ravel")();
        for (py::handle item : flat) {
            if (!PyUnicode_Check(item.ptr()) && !hv::python::IsWholeNumber(item)) {
                throw py::type_error("hkl must be a string, a whole number or a sequence of them (\"200\", 200, "
                                     "\"2 0 0\", \"lp\"), not " +
                                     py::str(py::type::handle_of(item).attr("__name__")).cast<std::string>());
            }
        }
        arr = arr.attr("astype")("U");
    } else if (kind == 'i' || kind == 'u') {
        arr = arr.attr("astype")("U");
    } else if (kind == 'U' && arr.dtype().attr("byteorder").cast<std::string>() == ">") {
        // The characters are read as native UCS4 below.
        arr = arr.attr("astype")(arr.dtype().attr("newbyteorder")("="));
    } else if (kind != 'U') {
        throw py::type_error("hkl must be a string, a whole number or a sequence of them (\"200\", 200, \"2 0 0\", "
                             "\"lp\"), not an array of " + py::str(arr.dtype()).cast<std::string>());
    }
    // Not ascontiguousarray: that would make a 0-d array 1-d.
    if (!(arr.flags() & py::array::c_style)) arr = arr.attr("copy")("C");

    Reflections out;
    py::array_t<int32_t> index(std::vector<py::ssize_t>(arr.shape(), arr.shape() + arr.ndim()));
    int32_t* const slot = index.mutable_data();
    const std::size_t width = static_cast<std::size_t>(arr.itemsize()) / sizeof(char32_t);
    const char* const data = static_cast<const char*>(arr.data());
    std::unordered_map<std::string_view, int32_t> seen;
    std::string_view previous;
    int32_t previousIndex = -1;
    for (py::ssize_t i = 0; i < arr.size(); ++i) {
        const std::string_view key(data + i * arr.itemsize(), static_cast<std::size_t>(arr.itemsize()));
        // Columns of one reflection repeat: skip the hash for a run of equal texts.
        if (previousIndex >= 0 && key == previous) {
            slot[i] = previousIndex;
            continue;
        }
        auto [it, inserted] = seen.try_emplace(key, static_cast<int32_t>(out.distinct.size()));
        if (inserted) {
            ParsedReflection parsed;
            char32_t buffer[64];
            std::vector<char32_t> wide;
            const char32_t* chars = buffer;
            if (width <= std::size(buffer)) {
                std::memcpy(buffer, key.data(), width * sizeof(char32_t));
            } else {
                wide.resize(width);
                std::memcpy(wide.data(), key.data(), width * sizeof(char32_t));
                chars = wide.data();
            }
            parsed.text = Utf8(chars, width);
            parsed.reflection = hv::ParseReflection(parsed.text, standard, parsed.why);
            out.distinct.push_back(std::move(parsed));
        }
        slot[i] = it->second;
        previous = key;
        previousIndex = it->second;
    }
    out.index = index;
    return out;
}

// ---- Walking broadcast operands ----

// The operands of one vectorised call after numpy's broadcasting: each a base pointer and a
// byte stride per dimension (0 where broadcast).
template <std::size_t K>
struct Operands {
    std::vector<py::ssize_t> shape;
    std::array<const char*, K> base{};
    std::vector<std::array<py::ssize_t, K>> strides;  // per dimension
    py::ssize_t size = 1;
    py::object keepAlive;
};

template <std::size_t K>
Operands<K> Broadcast(const std::array<py::array, K>& inputs)
{
    py::tuple args(K);
    for (std::size_t k = 0; k < K; ++k) args[k] = inputs[k];
    // numpy's own rules and its own ValueError when shapes do not fit.
    const py::list views = Numpy().attr("broadcast_arrays")(*args);
    Operands<K> ops;
    ops.keepAlive = views;
    const py::array first = views[0];
    ops.shape.assign(first.shape(), first.shape() + first.ndim());
    ops.strides.resize(ops.shape.size());
    for (std::size_t k = 0; k < K; ++k) {
        const py::array view = views[k];
        ops.base[k] = static_cast<const char*>(view.data());
        for (std::size_t dim = 0; dim < ops.shape.size(); ++dim) {
            ops.strides[dim][k] = view.strides(static_cast<py::ssize_t>(dim));
        }
    }
    for (py::ssize_t extent : ops.shape) ops.size *= extent;
    return ops;
}

// Calls f(i, pointers) for the elements [begin, end) in C order.
template <std::size_t K, typename F>
void Walk(const Operands<K>& ops, py::ssize_t begin, py::ssize_t end, F&& f)
{
    if (begin >= end) return;  // also an empty array, whose extents would divide by zero
    // numpy arrays have at most 64 dimensions; a fixed array also spares GCC 12 a false
    // -Wstringop-overflow about the size of a vector here at -O3.
    const std::size_t nd = ops.shape.size();
    if (nd > 64) throw py::value_error("more than 64 dimensions");
    std::array<py::ssize_t, 64> index{};
    std::array<const char*, K> p = ops.base;
    py::ssize_t rest = begin;
    for (std::size_t dim = nd; dim-- > 0;) {
        index[dim] = rest % ops.shape[dim];
        rest /= ops.shape[dim];
        for (std::size_t k = 0; k < K; ++k) p[k] += index[dim] * ops.strides[dim][k];
    }
    for (py::ssize_t i = begin; i < end; ++i) {
        f(i, p);
        for (std::size_t dim = nd; dim-- > 0;) {
            if (++index[dim] < ops.shape[dim]) {
                for (std::size_t k = 0; k < K; ++k) p[k] += ops.strides[dim][k];
                break;
            }
            for (std::size_t k = 0; k < K; ++k) p[k] -= (ops.shape[dim] - 1) * ops.strides[dim][k];
            index[dim] = 0;
        }
    }
}

// Runs work(begin, end) over [0, size): on this thread for small arrays, otherwise in blocks
// handed out to every core, so that costly elements (uncertainties need more model
// evaluations) do not leave a core idle. The caller has released the GIL.
template <typename F>
void Parallel(py::ssize_t size, F&& work)
{
    constexpr py::ssize_t kAlone = 10000;  // below this, starting threads costs more than it saves
    constexpr py::ssize_t kBlock = 2048;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    if (size <= kAlone || cores == 1) {
        work(py::ssize_t{0}, size);
        return;
    }
    std::atomic<py::ssize_t> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    const auto run = [&] {
        try {
            for (;;) {
                const py::ssize_t begin = next.fetch_add(kBlock);
                if (begin >= size) break;
                work(begin, std::min(size, begin + kBlock));
            }
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failureLock);
            if (!failure) failure = std::current_exception();
            next.store(size);
        }
    };
    {
        std::vector<std::jthread> helpers;
        const auto wanted = std::min<py::ssize_t>(cores, (size + kBlock - 1) / kBlock) - 1;
        for (py::ssize_t t = 0; t < wanted; ++t) helpers.emplace_back(run);
        run();
    }  // joined here, also when starting a thread threw
    if (failure) std::rethrow_exception(failure);
}

// ---- Results ----

constexpr std::array<std::string_view, 3> kStatusNames = {"ok", "warning", "error"};
constexpr std::size_t kStatusWidth = 7;  // "warning"

int StatusIndex(hv::Status s)
{
    return s == hv::Status::Ok ? 0 : s == hv::Status::Warning ? 1 : 2;
}

// What pressure() and fit() return; attributes documented on the class.
struct PyResult {
    py::object p_gpa, sigma_p_gpa, a, sigma_a, v_ratio, status, message, n_peaks;
};

// Messages of one vectorised call: element index and text, gathered per block without the GIL.
struct Messages {
    std::mutex lock;
    std::vector<std::pair<py::ssize_t, std::string>> items;
};

py::array MessageArray(const std::vector<py::ssize_t>& shape, std::vector<std::pair<py::ssize_t, std::string>>& items)
{
    py::array out = Numpy().attr("full")(ShapeTuple(shape), py::str(""), "dtype"_a = "object");
    auto** cells = static_cast<PyObject**>(out.mutable_data());
    // Many elements share a reason: one Python string each.
    std::unordered_map<std::string, py::str> distinct;
    for (auto& [i, text] : items) {
        auto it = distinct.find(text);
        if (it == distinct.end()) it = distinct.emplace(text, ToPython(text)).first;
        PyObject* old = cells[i];
        cells[i] = it->second.inc_ref().ptr();
        Py_XDECREF(old);
    }
    return out;
}

// Status names into a numpy unicode array of width 7.
void WriteStatus(char32_t* cell, int status)
{
    const std::string_view name = kStatusNames[static_cast<std::size_t>(status)];
    for (std::size_t c = 0; c < kStatusWidth; ++c) cell[c] = c < name.size() ? name[c] : U'\0';
}

// ---- Peak positions: d, 2-theta or energies ----

// The keyword arguments that say where the peaks are.
struct PositionArgs {
    py::object d, sigmaD, twoTheta, wavelength, energy, eKev, twoThetaFixed, sigmaTwoTheta, sigmaEKev;
};

// Which of them this call uses: the position and its sigma, and what fixes the geometry.
struct Positions {
    hv::XUnit unit = hv::XUnit::DAngstrom;
    const char* name = "d";  // the argument, for messages
    py::array x, sigma, geometry;
    bool beamEnergy = false;  // geometry holds the beam's energy in keV, not its wavelength
};

Positions ReadPositions(const PositionArgs& a)
{
    const struct {
        const char* name;
        const py::object& value;
    } ways[] = {{"d", a.d}, {"two_theta", a.twoTheta}, {"e_kev", a.eKev}};
    std::string given;
    int count = 0;
    for (const auto& w : ways) {
        if (w.value.is_none()) continue;
        given += (count++ ? " and " : "") + std::string(w.name);
    }
    if (count == 0) {
        throw py::value_error("give the peaks' positions: d, or two_theta= with wavelength= or energy=, or e_kev= with "
                              "two_theta_fixed=");
    }
    if (count > 1) throw py::value_error("give one kind of peak position, not " + given);
    const bool dWay = !a.d.is_none(), angle = !a.twoTheta.is_none(), energyWay = !a.eKev.is_none();
    // Arguments that belong to another way are a mistake, not something to ignore.
    const struct {
        const char* name;
        const py::object& value;
        bool belongs;
        const char* with;
    } extras[] = {
        {"sigma_d", a.sigmaD, dWay, "d"},
        {"wavelength", a.wavelength, angle, "two_theta"},
        {"energy", a.energy, angle, "two_theta"},
        {"sigma_two_theta", a.sigmaTwoTheta, angle, "two_theta"},
        {"two_theta_fixed", a.twoThetaFixed, energyWay, "e_kev"},
        {"sigma_e_kev", a.sigmaEKev, energyWay, "e_kev"},
    };
    for (const auto& e : extras) {
        if (!e.value.is_none() && !e.belongs) {
            throw py::value_error(std::string(e.name) + " goes with " + e.with + ", and the peaks are given as " + given);
        }
    }
    Positions p;
    if (dWay) {
        p.x = AsDoubles(a.d);
        p.sigma = AsOptionalDoubles(a.sigmaD);
        p.geometry = AsDoubles(py::float_(kNaN));
        return p;
    }
    if (angle) {
        if (a.wavelength.is_none() == a.energy.is_none()) {
            throw py::value_error(a.energy.is_none() ? "two_theta needs wavelength= (angstrom) or energy= (keV)"
                                                     : "give wavelength or energy, not both");
        }
        p.unit = hv::XUnit::TwoThetaDeg;
        p.name = "two_theta";
        p.x = AsDoubles(a.twoTheta);
        p.sigma = AsOptionalDoubles(a.sigmaTwoTheta);
        p.beamEnergy = !a.energy.is_none();
        p.geometry = AsDoubles(p.beamEnergy ? a.energy : a.wavelength);
        return p;
    }
    if (a.twoThetaFixed.is_none()) throw py::value_error("e_kev needs two_theta_fixed= (degrees)");
    p.unit = hv::XUnit::EnergyKev;
    p.name = "e_kev";
    p.x = AsDoubles(a.eKev);
    p.sigma = AsOptionalDoubles(a.sigmaEKev);
    p.geometry = AsDoubles(a.twoThetaFixed);
    return p;
}

// One element's peak through the core's conversion; false with why.
bool ElementPeak(const Positions& p, const hv::Reflection& reflection, double x, double sigma, double geometry,
                 hv::Peak& peak, std::string& why)
{
    hv::Geometry g{kNaN, kNaN};
    if (p.unit == hv::XUnit::EnergyKev) {
        g.twoThetaFixed = geometry;
    } else if (p.beamEnergy) {
        if (!(geometry > 0) || !std::isfinite(geometry)) {
            why = "the energy must be a positive number of keV";
            return false;
        }
        g.wavelength = hv::WavelengthOfEnergy(geometry);
    } else {
        g.wavelength = geometry;
    }
    return hv::PeakAt(reflection, p.unit, x, sigma, g, peak, why);
}

// ---- pressure ----

// A published scale's pressure is the double it computes; the built-in model's is the window's
// single-precision number.
class PressureOut {
public:
    PressureOut(const hv::Standard& standard, const std::vector<py::ssize_t>& shape)
        : published_(hv::IsPublished(standard))
    {
        if (published_) {
            py::array_t<double> a(shape);
            doubles_ = a.mutable_data();
            array_ = a;
        } else {
            py::array_t<float> a(shape);
            floats_ = a.mutable_data();
            array_ = a;
        }
    }
    void Set(py::ssize_t i, const hv::Result& r) const
    {
        if (published_) {
            doubles_[i] = r.status == hv::Status::Error ? kNaN : r.pressure;
        } else {
            floats_[i] = r.pGpa;
        }
    }
    py::array Array() const { return array_; }

private:
    bool published_;
    float* floats_ = nullptr;
    double* doubles_ = nullptr;
    py::array array_;
};

// One core result per broadcast element, computed without the GIL on every core: compute(at)
// gives the Result of the element whose operands stand at at.
template <std::size_t N, typename Compute>
PyResult ElementResults(const hv::Standard& standard, const Operands<N>& ops, Compute compute)
{
    const std::vector<py::ssize_t>& shape = ops.shape;
    const PressureOut p(standard, shape);
    py::array_t<double> sp(shape), a(shape), sa(shape), v(shape);
    py::array status(py::dtype("U7"), shape);
    double* const spOut = sp.mutable_data();
    double* const aOut = a.mutable_data();
    double* const saOut = sa.mutable_data();
    double* const vOut = v.mutable_data();
    auto* const statusOut = static_cast<char32_t*>(status.mutable_data());
    Messages messages;
    {
        py::gil_scoped_release unlocked;
        Parallel(ops.size, [&](py::ssize_t begin, py::ssize_t end) {
            std::vector<std::pair<py::ssize_t, std::string>> said;
            Walk(ops, begin, end, [&](py::ssize_t i, const std::array<const char*, N>& at) {
                hv::Result r = compute(at);
                p.Set(i, r);
                spOut[i] = r.sigmaPGpa;
                aOut[i] = r.a;
                saOut[i] = r.sigmaA;
                vOut[i] = r.vRatio;
                WriteStatus(statusOut + static_cast<std::size_t>(i) * kStatusWidth, StatusIndex(r.status));
                if (!r.message.empty()) said.emplace_back(i, std::move(r.message));
            });
            if (!said.empty()) {
                const std::lock_guard<std::mutex> lock(messages.lock);
                std::move(said.begin(), said.end(), std::back_inserter(messages.items));
            }
        });
    }
    PyResult out;
    out.p_gpa = p.Array();
    out.sigma_p_gpa = sp;
    out.a = a;
    out.sigma_a = sa;
    out.v_ratio = v;
    out.status = status;
    out.message = MessageArray(shape, messages.items);
    out.n_peaks = py::none();
    return out;
}

// An element's operand k as a double.
template <std::size_t N>
double NumberAt(const std::array<const char*, N>& at, int k)
{
    double x;
    std::memcpy(&x, at[static_cast<std::size_t>(k)], sizeof x);
    return x;
}

// pressure(..., volume=): the pressure of each cell volume.
PyResult PressureOfVolumes(const hv::Standard& standard, const py::object& tC, const py::object& volume,
                           const py::object& sigmaVolume, const py::object& sigmaT)
{
    enum { T, V, SV, ST };
    const Operands<4> ops = Broadcast<4>(
        {AsDoubles(hv::python::TemperatureArg(tC)), AsDoubles(volume), AsOptionalDoubles(sigmaVolume), AsOptionalDoubles(sigmaT)});
    return ElementResults(standard, ops, [&](const std::array<const char*, 4>& at) {
        hv::Result r;
        const float t = static_cast<float>(NumberAt(at, T));
        if (std::string why; !hv::CheckTemperature(t, why)) {
            r.message = std::move(why);
        } else {
            r = hv::PressureOfVolume(standard, t, NumberAt(at, V), NumberAt(at, SV), NumberAt(at, ST));
        }
        return r;
    });
}

PyResult Pressure(const std::string& standardName, const py::object& tC, const py::object& hkl, const py::object& d,
                  const py::object& sigmaD, const py::object& sigmaT, const py::object& twoTheta,
                  const py::object& wavelength, const py::object& energy, const py::object& eKev,
                  const py::object& twoThetaFixed, const py::object& sigmaTwoTheta, const py::object& sigmaEKev,
                  const py::object& volume, const py::object& sigmaVolume)
{
    const hv::Standard& standard = StandardArg(standardName);
    if (!volume.is_none() || !sigmaVolume.is_none()) {
        if (volume.is_none()) throw py::value_error("sigma_volume goes with volume");
        const std::pair<const char*, const py::object*> peaksArgs[] = {
            {"hkl", &hkl}, {"d", &d}, {"sigma_d", &sigmaD}, {"two_theta", &twoTheta}, {"wavelength", &wavelength},
            {"energy", &energy}, {"e_kev", &eKev}, {"two_theta_fixed", &twoThetaFixed},
            {"sigma_two_theta", &sigmaTwoTheta}, {"sigma_e_kev", &sigmaEKev}};
        for (const auto& [name, value] : peaksArgs) {
            if (!value->is_none()) throw py::value_error(std::string(name) + " goes with peaks, not with volume");
        }
        return PressureOfVolumes(standard, tC, volume, sigmaVolume, sigmaT);
    }
    if (hkl.is_none()) throw py::value_error("give hkl with the peaks' positions, or volume=");
    const Positions positions = ReadPositions(
        {d, sigmaD, twoTheta, wavelength, energy, eKev, twoThetaFixed, sigmaTwoTheta, sigmaEKev});
    const bool measured = positions.unit != hv::XUnit::DAngstrom;
    const Reflections reflections = ReadReflections(hkl, standard);
    enum { T, H, D, SD, ST, G };
    const Operands<6> ops = Broadcast<6>({AsDoubles(hv::python::TemperatureArg(tC)), reflections.index, positions.x, positions.sigma,
                                          AsOptionalDoubles(sigmaT), positions.geometry});
    const std::vector<ParsedReflection>& distinct = reflections.distinct;
    return ElementResults(standard, ops, [&](const std::array<const char*, 6>& at) {
        const auto number = [&](int k) { return NumberAt(at, k); };
        int32_t which;
        std::memcpy(&which, at[H], sizeof which);
        // The window reads the temperature first, then the reflection, then d.
        hv::Result r;
        const float t = static_cast<float>(number(T));
        const ParsedReflection& refl = distinct[static_cast<std::size_t>(which)];
        if (std::string why; !hv::CheckTemperature(t, why)) {
            r.message = std::move(why);
        } else if (!refl.reflection) {
            r.message = refl.why;
        } else if (!measured) {
            const hv::Peak peak{*refl.reflection, number(D), number(SD)};
            r = hv::Fit(standard, t, {&peak, 1}, number(ST));
        } else if (hv::Peak peak; ElementPeak(positions, *refl.reflection, number(D), number(SD), number(G), peak, why)) {
            r = hv::Fit(standard, t, {&peak, 1}, number(ST));
        } else {
            r.message = std::move(why);
        }
        return r;
    });
}

// ---- fit ----

template <typename T>
py::array Scalar(T value)
{
    return py::array_t<T>(std::vector<py::ssize_t>{}, &value);
}

py::array StatusScalar(hv::Status s)
{
    return Numpy().attr("array")(std::string(kStatusNames[static_cast<std::size_t>(StatusIndex(s))]), "dtype"_a = "U7");
}

PyResult FitPattern(const std::string& standardName, const py::object& tC, const py::object& hkl, const py::object& d,
                    const py::object& sigmaD, const py::object& sigmaT, const py::object& twoTheta,
                    const py::object& wavelength, const py::object& energy, const py::object& eKev,
                    const py::object& twoThetaFixed, const py::object& sigmaTwoTheta, const py::object& sigmaEKev)
{
    const hv::Standard& standard = StandardArg(standardName);
    const float t = static_cast<float>(ScalarArg("t_c", hv::python::TemperatureArg(tC)));
    const double st = OptionalScalarArg("sigma_t", sigmaT);
    const Positions positions = ReadPositions(
        {d, sigmaD, twoTheta, wavelength, energy, eKev, twoThetaFixed, sigmaTwoTheta, sigmaEKev});
    const bool measured = positions.unit != hv::XUnit::DAngstrom;
    const Reflections reflections = ReadReflections(hkl, standard);
    enum { H, D, SD, G };
    const Operands<4> ops = Broadcast<4>({reflections.index, positions.x, positions.sigma, positions.geometry});
    if (ops.shape.size() > 1) {
        throw py::value_error("fit takes one pattern: hkl, d and sigma_d must be one-dimensional, not of shape " +
                              py::str(ShapeTuple(ops.shape)).cast<std::string>());
    }

    hv::Result r;
    std::vector<hv::Peak> peaks;
    peaks.reserve(static_cast<std::size_t>(ops.size));
    std::string why;
    if (!hv::CheckTemperature(t, why)) {
        r.message = why;
    } else {
        Walk(ops, 0, ops.size, [&](py::ssize_t i, const std::array<const char*, 4>& at) {
            int32_t which;
            double dv, sdv, gv;
            std::memcpy(&which, at[H], sizeof which);
            std::memcpy(&dv, at[D], sizeof dv);
            std::memcpy(&sdv, at[SD], sizeof sdv);
            std::memcpy(&gv, at[G], sizeof gv);
            const ParsedReflection& refl = reflections.distinct[static_cast<std::size_t>(which)];
            if (!refl.reflection) {
                if (r.message.empty()) r.message = "hkl[" + std::to_string(i) + "]: " + refl.why;
                return;
            }
            if (!measured) {
                peaks.push_back({*refl.reflection, dv, sdv});
                return;
            }
            hv::Peak peak;
            if (std::string why; !ElementPeak(positions, *refl.reflection, dv, sdv, gv, peak, why)) {
                if (r.message.empty()) r.message = std::string(positions.name) + "[" + std::to_string(i) + "]: " + why;
                return;
            }
            peaks.push_back(peak);
        });
    }
    r.peaks = static_cast<int>(ops.size);
    if (r.message.empty()) {
        py::gil_scoped_release unlocked;
        r = hv::Fit(standard, t, peaks, st);
    }
    PyResult out;
    out.p_gpa = hv::IsPublished(standard) ? Scalar<double>(r.status == hv::Status::Error ? kNaN : r.pressure)
                                          : Scalar<float>(r.pGpa);
    out.sigma_p_gpa = Scalar<double>(r.sigmaPGpa);
    out.a = Scalar<double>(r.a);
    out.sigma_a = Scalar<double>(r.sigmaA);
    out.v_ratio = Scalar<double>(r.vRatio);
    out.status = StatusScalar(r.status);
    out.message = Numpy().attr("array")(ToPython(r.message), "dtype"_a = "object");
    out.n_peaks = py::int_(static_cast<py::ssize_t>(ops.size));
    return out;
}

// ---- spacing ----

py::dict Spacing(const std::string& standardName, const py::object& tC, const py::object& pGpa, const py::object& hkl,
                 const py::object& wavelength, long long maxN)
{
    const hv::Standard& standard = StandardArg(standardName);
    const float t = static_cast<float>(ScalarArg("t_c", hv::python::TemperatureArg(tC)));
    const double p = ScalarArg("p_gpa", pGpa);
    const double lambda = OptionalScalarArg("wavelength", wavelength);
    constexpr int kMaxListed = 10000;
    if (maxN < 1 || maxN > kMaxListed) {
        throw py::value_error("max_n must lie between 1 and " + std::to_string(kMaxListed));
    }
    // The asked reflections, in the order asked.
    std::vector<hv::Reflection> asked;
    if (!hkl.is_none()) {
        const Reflections reflections = ReadReflections(hkl, standard);
        const py::array flat = reflections.index.attr("ravel")();
        const int32_t* which = static_cast<const int32_t*>(flat.data());
        for (py::ssize_t i = 0; i < flat.size(); ++i) {
            const ParsedReflection& refl = reflections.distinct[static_cast<std::size_t>(which[i])];
            if (!refl.reflection) throw py::value_error(refl.why);
            asked.push_back(*refl.reflection);
        }
    }

    hv::SpacingResult s;
    const bool hexagonal = hv::IsHexagonal(standard);
    std::string why;
    {
        py::gil_scoped_release unlocked;
        s = hv::SpacingsAt(standard, t, p, hkl.is_none() ? static_cast<int>(maxN) : 0, lambda);
        if (s.status != hv::Status::Error && hexagonal && hkl.is_none() &&
            !hv::AddHexagonalRows(standard, static_cast<int>(maxN), lambda, s, why)) {
            s.status = hv::Status::Error;
            s.message = why;
        }
    }
    if (s.status == hv::Status::Error) throw py::value_error(s.message);

    py::list names;
    std::vector<int64_t> ns;
    std::vector<double> ds, twoThetas;
    const auto add = [&](const std::string& name, int n, double dv) {
        names.append(name);
        ns.push_back(n);
        ds.push_back(dv);
        twoThetas.push_back(hv::TwoTheta(dv, lambda));
    };
    if (hkl.is_none()) {
        for (const hv::SpacingRow& row : s.rows) add(hv::HklText(row.hkl), row.n, row.d);
    } else {
        for (const hv::Reflection& refl : asked) {
            add(hv::ReflectionText(refl), refl.n,
                hexagonal ? hv::Spacing(hv::CrystalSystem::Hexagonal, s.a, s.c, refl.hkl) : hv::Spacing(s.a, refl.n));
        }
    }
    const auto array = [](const auto& values) {
        using V = typename std::decay_t<decltype(values)>::value_type;
        return py::array_t<V>(static_cast<py::ssize_t>(values.size()), values.data());
    };
    py::dict out;
    out["hkl"] = Numpy().attr("array")(names, "dtype"_a = "U");
    out["n"] = array(ns);
    out["d"] = array(ds);
    if (!std::isnan(lambda)) out["two_theta"] = array(twoThetas);
    out["a"] = s.a;
    if (hexagonal) out["c"] = s.c;
    out["volume"] = s.volume;
    out["v_ratio"] = s.vRatio;
    out["status"] = std::string(hv::StatusName(s.status));
    out["message"] = ToPython(s.message);
    return out;
}

// ---- Kolvane ----

py::tuple Kolvane(long long istd, double tcel, double vdiff)
{
    if (istd < std::numeric_limits<int16_t>::min() || istd > std::numeric_limits<int16_t>::max()) {
        throw py::value_error("istd must fit in 16 bits");
    }
    const int16_t code = static_cast<int16_t>(istd);
    const float t = static_cast<float>(tcel), v = static_cast<float>(vdiff);
    // The engine never writes a non-finite pressure, so a NaN left in place means untouched.
    float p = std::numeric_limits<float>::quiet_NaN();
    int16_t ierr = -1;
    {
        py::gil_scoped_release unlocked;
        clsKolvane().Kolvane(code, t, v, p, ierr);
    }
    return py::make_tuple(std::isnan(p) ? py::object(py::none()) : py::object(py::float_(p)), ierr);
}

py::str Repr(const PyResult& r)
{
    std::string out = "hivarnisse.Result(";
    const std::pair<const char*, const py::object*> fields[] = {
        {"status", &r.status}, {"message", &r.message}, {"p_gpa", &r.p_gpa},   {"sigma_p_gpa", &r.sigma_p_gpa},
        {"a", &r.a},           {"sigma_a", &r.sigma_a}, {"v_ratio", &r.v_ratio}, {"n_peaks", &r.n_peaks},
    };
    bool firstField = true;
    for (const auto& [name, value] : fields) {
        if (value->is_none() && std::string_view(name) == "n_peaks") continue;
        // 0-d arrays shown as their one value.
        const bool single = py::isinstance<py::array>(*value) && py::array(*value).ndim() == 0;
        const py::object shown = single ? value->attr("__getitem__")(py::tuple()) : *value;
        out += (firstField ? "" : ", ") + std::string(name) + "=" + py::repr(shown).cast<std::string>();
        firstField = false;
    }
    return py::str(out + ")");
}

py::dict AsDict(const PyResult& r)
{
    py::dict d("p_gpa"_a = r.p_gpa, "sigma_p_gpa"_a = r.sigma_p_gpa, "a"_a = r.a, "sigma_a"_a = r.sigma_a,
               "v_ratio"_a = r.v_ratio, "status"_a = r.status, "message"_a = r.message);
    if (!r.n_peaks.is_none()) d["n_peaks"] = r.n_peaks;
    return d;
}

}  // namespace

#include "docstrings.h"

// python/pattern.cpp: read_pattern, fit_pattern and their results.
void RegisterPattern(py::module_& m);
// python/eos.cpp: fit_eos and its result.
void RegisterEos(py::module_& m);
// python/standards.cpp: standards() and convert().
void RegisterStandards(py::module_& m);

PYBIND11_MODULE(hivarnisse, m)
{
    // Each docstring starts with its own signature, in Python's words rather than C++ types.
    py::options options;
    options.disable_function_signatures();
    m.doc() = doc::kModule;
    m.attr("__version__") = HV_VERSION;

    py::class_<PyResult>(m, "Result", doc::kResult)
        .def_readonly("p_gpa", &PyResult::p_gpa, doc::kPGpa)
        .def_readonly("sigma_p_gpa", &PyResult::sigma_p_gpa, doc::kSigmaPGpa)
        .def_readonly("a", &PyResult::a, doc::kA)
        .def_readonly("sigma_a", &PyResult::sigma_a, doc::kSigmaA)
        .def_readonly("v_ratio", &PyResult::v_ratio, doc::kVRatio)
        .def_readonly("status", &PyResult::status, doc::kStatus)
        .def_readonly("message", &PyResult::message, doc::kMessage)
        .def_readonly("n_peaks", &PyResult::n_peaks, doc::kNPeaks)
        .def("as_dict", &AsDict, doc::kAsDict)
        .def("__repr__", &Repr)
        .def(py::pickle(
            [](const PyResult& r) {
                return py::make_tuple(r.p_gpa, r.sigma_p_gpa, r.a, r.sigma_a, r.v_ratio, r.status, r.message,
                                      r.n_peaks);
            },
            [](const py::tuple& t) {
                if (t.size() != 8) throw std::runtime_error("not a pickled hivarnisse.Result");
                return PyResult{t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7]};
            }));

    // d and its sigmas stay positional, as they always were; the positions as measured are
    // keywords only, so that a number is never taken for a 2-theta by its place.
    m.def("pressure", &Pressure, doc::kPressure, "standard"_a, "t_c"_a, "hkl"_a = py::none(), "d"_a = py::none(),
          "sigma_d"_a = py::none(), "sigma_t"_a = py::none(), py::kw_only(), "two_theta"_a = py::none(),
          "wavelength"_a = py::none(), "energy"_a = py::none(), "e_kev"_a = py::none(),
          "two_theta_fixed"_a = py::none(), "sigma_two_theta"_a = py::none(), "sigma_e_kev"_a = py::none(),
          "volume"_a = py::none(), "sigma_volume"_a = py::none());
    m.def("fit", &FitPattern, doc::kFit, "standard"_a, "t_c"_a, "hkl"_a, "d"_a = py::none(), "sigma_d"_a = py::none(),
          "sigma_t"_a = py::none(), py::kw_only(), "two_theta"_a = py::none(), "wavelength"_a = py::none(),
          "energy"_a = py::none(), "e_kev"_a = py::none(), "two_theta_fixed"_a = py::none(),
          "sigma_two_theta"_a = py::none(), "sigma_e_kev"_a = py::none());
    m.def("spacing", &Spacing, doc::kSpacing, "standard"_a, "t_c"_a, "p_gpa"_a, "hkl"_a = py::none(),
          "wavelength"_a = py::none(), "max_n"_a = 20);
    m.def("Kolvane", &Kolvane, doc::kKolvane, "istd"_a, "tcel"_a, "vdiff"_a);
    RegisterPattern(m);
    RegisterEos(m);
    RegisterStandards(m);
}
