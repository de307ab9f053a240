// Result classes whose fields are all Python objects (pattern and equation-of-state results):
// read-only fields, pickled as the tuple of their fields, and a plot method written in Python.
#pragma once

#include <pybind11/eval.h>
#include <pybind11/pybind11.h>

#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace hv::python {

namespace py = pybind11;

template <typename R>
void DefineRecord(py::class_<R>& cls, std::span<const char* const> fields, const std::vector<py::object R::*>& members,
                  const std::string& name)
{
    for (std::size_t i = 0; i < members.size(); ++i) cls.def_readonly(fields[i], members[i]);
    cls.def(py::pickle(
        [members](const R& r) {
            py::tuple t(members.size());
            for (std::size_t i = 0; i < members.size(); ++i) t[i] = r.*members[i];
            return t;
        },
        [members, name](const py::tuple& t) {
            if (t.size() != members.size()) throw std::runtime_error("not a pickled hivarnisse." + name);
            R r;
            for (std::size_t i = 0; i < members.size(); ++i) r.*members[i] = t[i];
            return r;
        }));
}

// Runs source, which defines a function plot(self, ...), and makes it the class's method.
inline void AttachPlot(py::handle cls, const char* source, const char* doc, const std::string& className)
{
    py::dict scope;
    scope["__builtins__"] = py::module_::import("builtins");
    py::exec(source, scope, scope);
    py::object plot = scope["plot"];
    plot.attr("__doc__") = doc;
    plot.attr("__qualname__") = className + ".plot";
    plot.attr("__module__") = "hivarnisse";
    cls.attr("plot") = plot;
}

}  // namespace hv::python
