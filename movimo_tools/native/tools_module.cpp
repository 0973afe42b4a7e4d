// _movimo_tools: pattern values written straight into NumPy arrays, one
// native call per array instead of one Python call per pip.
//
// Built-in patterns are resolved through the movimo module's handle lookup
// (this module links against the module file, so both share its one copy of
// the tables) and filled by its batch calls, so a row costs what the sampler
// costs. Library patterns go through PatternLibrary::sample, one call per row.
// Between pips, a pattern is interpolated over its loop table (or, for a
// library pattern, the rows it needs), as interpolation.h describes.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "casters.h"
#include "interpolation.h"
#include "movimo/catalogue.h"
#include "movimo/core.h"
#include "movimo/pattern_handle.h"
#include "movimo/pattern_library.h"
#include "movimo/version.h"

namespace py = pybind11;

namespace {

using Pips = py::array_t<std::int32_t, py::array::c_style>;

[[noreturn]] void unknown(std::string_view name) {
  throw std::invalid_argument("Unknown movimo: " + std::string(name));
}

movimo::PatternHandle builtin(std::string_view name) {
  const movimo::PatternHandle pattern = movimo::resolve(name);
  if (!pattern) unknown(name);
  return pattern;
}

// A new (count, 3) array and its rows as Offset3 values, which are exactly
// three doubles each.
std::pair<py::array_t<double>, std::span<movimo::Offset3>> new_rows(py::ssize_t count) {
  static_assert(sizeof(movimo::Offset3) == 3 * sizeof(double));
  py::array_t<double> rows({count, py::ssize_t{3}});
  auto* first = reinterpret_cast<movimo::Offset3*>(rows.mutable_data());
  return {rows, {first, static_cast<std::size_t>(count)}};
}

py::array_t<double> builtin_table(std::string_view name) {
  const movimo::PatternHandle pattern = builtin(name);
  auto [rows, out] = new_rows(pattern.info.period_pips);
  movimo::fill(pattern, 0, out);
  return rows;
}

py::array_t<double> builtin_sample(std::string_view name, const Pips& pips) {
  const movimo::PatternHandle pattern = builtin(name);
  auto [rows, out] = new_rows(pips.size());
  movimo::fill(pattern, {pips.data(), static_cast<std::size_t>(pips.size())}, out);
  return rows;
}

// The pack and family of every built-in pattern, in catalogue order.
std::vector<std::pair<std::string_view, std::string_view>> groups() {
  std::vector<std::pair<std::string_view, std::string_view>> found;
  for (const movimo::PatternInfo& info : movimo::catalogue()) {
    const movimo::PatternHandle pattern = movimo::resolve(info.name);
    found.emplace_back(pattern.pack, pattern.family);
  }
  return found;
}

std::int32_t library_period(const movimo::PatternLibrary& library, std::string_view name) {
  for (const movimo::PatternInfo& info : library.catalogue()) {
    if (info.name == name) return info.period_pips;
  }
  unknown(name);
}

py::array_t<double> library_table(const movimo::PatternLibrary& library, std::string_view name) {
  auto [rows, out] = new_rows(library_period(library, name));
  std::int32_t pip = 0;
  for (movimo::Offset3& value : out) value = library.sample(name, pip++);
  return rows;
}

py::array_t<double> library_sample(const movimo::PatternLibrary& library, std::string_view name,
                                   const Pips& pips) {
  library_period(library, name);  // refuses an unknown name even for no pips
  auto [rows, out] = new_rows(pips.size());
  std::ranges::transform(std::span(pips.data(), static_cast<std::size_t>(pips.size())),
                         out.begin(), [&](std::int32_t pip) { return library.sample(name, pip); });
  return rows;
}

using FractionalPips = py::array_t<double, py::array::c_style>;
using LoopRows = py::array_t<double, py::array::c_style>;

// A (count, 3) array whose row i is the pattern between pips at pip_at(i).
template <class PipAt, class Windows>
py::array_t<double> interpolated_rows(py::ssize_t count, PipAt pip_at, const Windows& windows,
                                      std::string_view method) {
  const movimo_tools::Interpolation chosen = movimo_tools::interpolation_named(method);
  py::array_t<double> rows({count, py::ssize_t{3}});
  movimo_tools::interpolate(count, pip_at, windows, chosen, rows.mutable_data());
  return rows;
}

// The windows over a pattern's loop, a (period, 3) table whose row k is its
// value at phase k.
movimo_tools::TableWindows loop_windows(const LoopRows& table) {
  if (table.ndim() != 2 || table.shape(1) != 3 || table.shape(0) < 1 ||
      table.shape(0) > 65535) {
    throw std::invalid_argument("a loop table has one row of x, y and z per phase, 1 to 65535");
  }
  return {table.data(), static_cast<std::int32_t>(table.shape(0))};
}

py::array_t<double> interpolate_table(const LoopRows& table, const FractionalPips& pips,
                                      std::string_view method) {
  const double* pip = pips.data();
  return interpolated_rows(pips.size(), [pip](py::ssize_t i) { return pip[i]; },
                           loop_windows(table), method);
}

// One frame over many targets: row i is the pattern at pip - offsets[i].
template <class Offset>
py::array_t<double> spread_table(
    const LoopRows& table, double pip,
    const py::array_t<Offset, py::array::c_style | py::array::forcecast>& offsets,
    std::string_view method) {
  const Offset* offset = offsets.data();
  return interpolated_rows(
      offsets.size(),
      [pip, offset](py::ssize_t i) { return pip - static_cast<double>(offset[i]); },
      loop_windows(table), method);
}

py::array_t<double> interpolate_library(const movimo::PatternLibrary& library,
                                        std::string_view name, const FractionalPips& pips,
                                        std::string_view method) {
  const double* pip = pips.data();
  const std::int32_t period = library_period(library, name);
  const auto row_at = [&library, name](std::int32_t phase) { return library.sample(name, phase); };
  return interpolated_rows(pips.size(), [pip](py::ssize_t i) { return pip[i]; },
                           movimo_tools::SampledWindows(row_at, period), method);
}

}  // namespace

PYBIND11_MODULE(_movimo_tools, m, py::multiple_interpreters::not_supported()) {
  m.doc() = "Native batch evaluation for movimo_tools";
  m.attr("__version__") = MOVIMO_VERSION;

  m.def("groups", &groups);
  m.def("table", &builtin_table, py::arg("name"));
  m.def("sample", &builtin_sample, py::arg("name"), py::arg("pips"));
  m.def("library_table", &library_table, py::arg("library"), py::arg("name"));
  m.def("library_sample", &library_sample, py::arg("library"), py::arg("name"), py::arg("pips"));
  m.def("period_pips", [](std::string_view name) { return builtin(name).info.period_pips; },
        py::arg("name"));
  m.def("library_period_pips", &library_period, py::arg("library"), py::arg("name"));
  m.def("interpolate", &interpolate_table, py::arg("table"), py::arg("pips"),
        py::arg("interpolation"));
  // Offsets as the offset functions make them, read in place; any other
  // number type is turned to doubles first, as NumPy's astype would.
  m.def("spread", &spread_table<std::int64_t>, py::arg("table"), py::arg("pip"),
        py::arg("offsets").noconvert(), py::arg("interpolation"));
  m.def("spread", &spread_table<double>, py::arg("table"), py::arg("pip"), py::arg("offsets"),
        py::arg("interpolation"));
  m.def("library_interpolate", &interpolate_library, py::arg("library"), py::arg("name"),
        py::arg("pips"), py::arg("interpolation"));
}
