// The movimo extension module: a declarative list of what Python sees, in
// the order the module defines it. All behaviour lives in the native library.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "movimo/core.h"
#include "movimo/patterns.h"

namespace py = pybind11;

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

  py::class_<movimo::Offset3>(m, "Offset3")
      .def_readonly("x", &movimo::Offset3::x)
      .def_readonly("y", &movimo::Offset3::y)
      .def_readonly("z", &movimo::Offset3::z)
      .def("as_tuple", [](const movimo::Offset3& o) { return py::make_tuple(o.x, o.y, o.z); });

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
