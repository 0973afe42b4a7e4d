// The cheapest pybind11 call that returns a small bound class instance: the
// yardstick the Python benchmarks compare movimo's calls against.
#include <pybind11/pybind11.h>

#include <cstdint>

namespace py = pybind11;

namespace {
struct Triple {
  double x, y, z;
};
}  // namespace

PYBIND11_MODULE(movimo_bench_baseline, m, py::multiple_interpreters::not_supported()) {
  py::class_<Triple>(m, "Triple").def_readonly("x", &Triple::x);
  m.def("make", [](std::int32_t pip) { return Triple{static_cast<double>(pip), 0.0, 0.0}; });
}
