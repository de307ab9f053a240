// Arguments a user may write as text or as a whole number, read as the command line reads
// them: a temperature "298.15K" or "25", a reflection 200 as "200".
#pragma once

#include "core/numbers.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>

namespace hv::python {

namespace py = pybind11;

inline double TemperatureText(const py::handle& text)
{
    const std::string t = py::str(text).cast<std::string>();
    float celsius = 0;
    std::string why;
    if (!hv::ParseTemperature(t, celsius, why)) throw py::value_error("t_c " + hv::Quoted(t) + ": " + why);
    return static_cast<double>(celsius);
}

// t_c with every string in it read as on the command line; numbers pass through untouched
// (so a number below absolute zero stays an error result, not an exception).
inline py::object TemperatureArg(const py::object& tC)
{
    using namespace pybind11::literals;
    if (py::isinstance<py::str>(tC)) return py::float_(TemperatureText(tC));
    if (py::isinstance<py::bytes>(tC) || !(py::isinstance<py::list>(tC) || py::isinstance<py::tuple>(tC) ||
                                           py::isinstance<py::array>(tC))) {
        return tC;
    }
    const py::module_ np = py::module_::import("numpy");
    py::array a = np.attr("asarray")(tC);
    const char kind = a.dtype().kind();
    if (kind != 'U' && kind != 'O') return tC;
    py::array_t<double> out(std::vector<py::ssize_t>(a.shape(), a.shape() + a.ndim()));
    double* const slot = out.mutable_data();
    py::ssize_t i = 0;
    for (const py::handle item : a.attr("ravel")()) {
        slot[i++] = py::isinstance<py::str>(item) ? TemperatureText(item) : py::float_(py::reinterpret_borrow<py::object>(item)).cast<double>();
    }
    return out;
}

// A reflection given as a whole number (200) is its digits, as typed on the command line;
// bools and other numbers are not reflections.
inline bool IsWholeNumber(const py::handle& item)
{
    return py::isinstance<py::int_>(item) && !py::isinstance<py::bool_>(item);
}

}  // namespace hv::python
