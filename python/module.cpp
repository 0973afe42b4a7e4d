// The movimo extension module: a declarative list of what Python sees, in
// the order the module defines it. All behaviour lives in the native library.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "casters.h"

#include "movimo/catalogue.h"
#include "movimo/core.h"
#include "movimo/pattern_library.h"
#include "movimo/patterns.h"
#include "movimo/sampled_pattern.h"
#include "movimo/sampled_recording.h"

namespace py = pybind11;

namespace {

// A catalogue as Python sees it: a new list of new dicts, one per descriptor.
py::list to_entries(const std::vector<movimo::PatternInfo>& infos) {
  py::list entries;
  for (const movimo::PatternInfo& info : infos) {
    py::dict entry;
    entry["name"] = py::str(info.name.data(), info.name.size());
    entry["description"] = py::str(info.description.data(), info.description.size());
    entry["period_pips"] = info.period_pips;
    entry["dimensions"] = info.dimensions;
    entries.append(std::move(entry));
  }
  return entries;
}

}  // namespace

// Python 3.13 no longer exports this private function, which the binding
// library's headers reference. Without a definition the module would fail to
// load under 3.13 with an "undefined symbol" error before its interpreter
// version check could run. This fallback only satisfies the loader: the
// module calls the function through its PLT, so wherever the interpreter
// exports its own definition (3.12) that one is used, and under any other
// version the check refuses the import before anything calls it.
extern "C" PyThreadState* _PyThreadState_UncheckedGet(void) {
  return PyGILState_GetThisThreadState();
}

PYBIND11_MODULE(movimo, m, py::multiple_interpreters::not_supported()) {
  m.doc() = "Integer-pip rhythmic position functions";
  m.attr("PIPS_PER_BEAT") = movimo::PIPS_PER_BEAT;

  py::class_<movimo::SampledRecording>(m, "SampledRecording")
      .def(py::init<std::string, std::vector<std::string>, movimo::RecordingFrames, double,
                    double, std::int32_t>(),
           py::arg("name"), py::arg("dimensions"), py::arg("samples"), py::arg("bpm"),
           py::arg("beat_zero_seconds") = 0.0, py::arg("start_pip") = 0)
      .def_property_readonly("name", &movimo::SampledRecording::name)
      .def_property_readonly("dimensions", &movimo::SampledRecording::dimensions)
      .def_property_readonly("sample_count", &movimo::SampledRecording::sample_count)
      .def_property_readonly("bpm", &movimo::SampledRecording::bpm)
      .def_property_readonly("beat_zero_seconds", &movimo::SampledRecording::beat_zero_seconds)
      .def_property_readonly("start_pip", &movimo::SampledRecording::start_pip)
      .def("sample", &movimo::SampledRecording::sample, py::arg("pip").noconvert());

  py::class_<movimo::Offset3>(m, "Offset3")
      .def_readonly("x", &movimo::Offset3::x)
      .def_readonly("y", &movimo::Offset3::y)
      .def_readonly("z", &movimo::Offset3::z)
      .def("as_tuple", [](const movimo::Offset3& o) { return py::make_tuple(o.x, o.y, o.z); });

  py::class_<movimo::SampledPattern>(m, "SampledPattern")
      .def(py::init<std::string, std::string, std::vector<movimo::Offset3>>(), py::arg("name"),
           py::arg("description"), py::arg("samples"))
      .def_property_readonly("name", &movimo::SampledPattern::name)
      .def_property_readonly("description", &movimo::SampledPattern::description)
      .def_property_readonly("period_pips", &movimo::SampledPattern::period_pips)
      .def("sample", &movimo::SampledPattern::sample, py::arg("pip_count").noconvert());

  py::class_<movimo::PatternLibrary>(m, "PatternLibrary")
      .def(py::init<std::vector<const movimo::SampledPattern*>>(),
           py::arg("patterns") = py::list())
      .def("sample", &movimo::PatternLibrary::sample, py::arg("name"),
           py::arg("pip_count").noconvert())
      .def("catalogue", [](const movimo::PatternLibrary& library) {
        return to_entries(library.catalogue());
      });

  m.def("sample", &movimo::sample, py::arg("name"), py::arg("pip_count"));
  m.def("catalogue", [] { return to_entries(movimo::catalogue()); });

  m.def("bounce", &movimo::bounce);
  m.def("sway", &movimo::sway);
  m.def("circle", &movimo::circle);
  m.def("figure_eight", &movimo::figure_eight);
  m.def("step_touch", &movimo::step_touch);
  m.def("box_step", &movimo::box_step);
  m.def("helix", &movimo::helix);
  m.def("clay_background", &movimo::clay_background);
  m.def("single_stroke_roll", &movimo::single_stroke_roll);
  m.def("double_stroke_roll", &movimo::double_stroke_roll);
  m.def("multiple_bounce_roll", &movimo::multiple_bounce_roll);
  m.def("single_paradiddle", &movimo::single_paradiddle);
  m.def("flam", &movimo::flam);
  m.def("drag", &movimo::drag);
  m.def("five_stroke_roll", &movimo::five_stroke_roll);
}
