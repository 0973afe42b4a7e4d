// _movimo_tools: pattern values written straight into NumPy arrays, one
// native call per array instead of one Python call per pip.
//
// The built-in samplers are taken from the movimo module itself: this module
// links against it, looks up each pattern's exported function once (the
// procedural `movimo::<name>`, the sampled `movimo_<pack>::sample_<name>`) and
// then calls it directly, so a row costs what the sampler costs. Library
// patterns go through PatternLibrary::sample, one call per row.

#include <dlfcn.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "casters.h"
#include "movimo/catalogue.h"
#include "movimo/core.h"
#include "movimo/pattern_library.h"

namespace py = pybind11;

namespace {

using Sampler = movimo::Offset3 (*)(std::int32_t) noexcept;
using Pips = py::array_t<std::int32_t, py::array::c_style>;

struct Pack {
  std::string_view name;
  std::size_t patterns;
};

// The sampled packs in catalogue order, after the procedural patterns.
constexpr std::array<Pack, 6> kPacks{{{"initial", 28},
                                      {"expansion", 24},
                                      {"atlas", 256},
                                      {"continuum", 320},
                                      {"club", 144},
                                      {"dancefloor", 944}}};

struct Builtin {
  std::uint16_t period_pips;
  Sampler sampler;  // nullptr when not exported: evaluated by name instead
};

// The linker name of `space::function(int)` (Itanium C++ ABI).
std::string function_symbol(std::string_view space, std::string_view function) {
  std::string symbol = "_ZN";
  symbol.append(std::to_string(space.size()))
      .append(space)
      .append(std::to_string(function.size()))
      .append(function)
      .append("Ei");
  return symbol;
}

// Every built-in pattern by name, with its sampler resolved once from the
// movimo module: the procedural patterns lead the catalogue as
// movimo::<name>, each pack follows as movimo_<pack>::sample_<name>. The keys
// view the catalogue's constant text.
std::unordered_map<std::string_view, Builtin> build_index() {
  const auto& catalogue = movimo::catalogue();
  std::unordered_map<std::string_view, Builtin> index;
  index.reserve(catalogue.size());
  for (const movimo::PatternInfo& info : catalogue) index[info.name] = {info.period_pips, nullptr};

  Dl_info loaded{};
  void* module = dladdr(reinterpret_cast<void*>(&movimo::sample), &loaded) != 0
                     ? dlopen(loaded.dli_fname, RTLD_LAZY | RTLD_NOLOAD)
                     : nullptr;
  if (module == nullptr) return index;
  std::size_t position = 0;
  const auto resolve = [&](std::string_view space, std::string_view prefix, std::size_t count) {
    for (const std::size_t end = std::min(position + count, catalogue.size()); position < end;
         ++position) {
      const std::string_view name = catalogue[position].name;
      const std::string symbol = function_symbol(space, std::string(prefix).append(name));
      index[name].sampler = reinterpret_cast<Sampler>(dlsym(module, symbol.c_str()));
    }
  };
  std::size_t sampled = 0;
  for (const Pack& pack : kPacks) sampled += pack.patterns;
  resolve("movimo", "", catalogue.size() - std::min(sampled, catalogue.size()));
  for (const Pack& pack : kPacks) {
    resolve(std::string("movimo_").append(pack.name), "sample_", pack.patterns);
  }
  dlclose(module);
  return index;
}

const std::unordered_map<std::string_view, Builtin>& builtins() {
  static const auto index = build_index();
  return index;
}

[[noreturn]] void unknown(std::string_view name) {
  throw std::invalid_argument("Unknown movimo: " + std::string(name));
}

const std::pair<const std::string_view, Builtin>& find_builtin(std::string_view name) {
  const auto found = builtins().find(name);
  if (found == builtins().end()) unknown(name);
  return *found;
}

// Calls `body(period_pips, evaluate)` with the built-in pattern `name`.
template <class Body>
py::array_t<double> with_builtin(std::string_view name, Body body) {
  const auto& [key, pattern] = find_builtin(name);
  if (pattern.sampler != nullptr) return body(pattern.period_pips, pattern.sampler);
  return body(pattern.period_pips,
              [key](std::int32_t pip) { return movimo::sample(key, pip); });
}

std::int32_t library_period(const movimo::PatternLibrary& library, std::string_view name) {
  for (const movimo::PatternInfo& info : library.catalogue()) {
    if (info.name == name) return info.period_pips;
  }
  unknown(name);
}

// Calls `body(period_pips, evaluate)` with the pattern `name` of `library`.
template <class Body>
py::array_t<double> with_library_pattern(const movimo::PatternLibrary& library,
                                         std::string_view name, Body body) {
  return body(library_period(library, name),
              [&library, name](std::int32_t pip) { return library.sample(name, pip); });
}

// A (count, 3) array whose row i is evaluate(pip_at(i)). Offset3 is exactly
// three doubles, so each result is constructed in place in its row, with no
// temporary to copy.
template <class PipAt, class Evaluate>
py::array_t<double> evaluate_rows(py::ssize_t count, PipAt pip_at, Evaluate evaluate) {
  static_assert(sizeof(movimo::Offset3) == 3 * sizeof(double));
  py::array_t<double> rows({count, py::ssize_t{3}});
  double* out = rows.mutable_data();
  for (py::ssize_t i = 0; i < count; ++i) new (out + 3 * i) movimo::Offset3(evaluate(pip_at(i)));
  return rows;
}

// Body for the whole loop: row k is phase k.
constexpr auto one_period = [](std::int32_t period_pips, auto evaluate) {
  return evaluate_rows(
      period_pips, [](py::ssize_t i) { return static_cast<std::int32_t>(i); }, evaluate);
};

// Body for given pips, flattened.
auto at_pips(const Pips& pips) {
  return [&pips](std::int32_t, auto evaluate) {
    const std::int32_t* pip = pips.data();
    return evaluate_rows(pips.size(), [pip](py::ssize_t i) { return pip[i]; }, evaluate);
  };
}

std::size_t direct_sampler_count() {
  std::size_t direct = 0;
  for (const auto& entry : builtins()) direct += entry.second.sampler != nullptr;
  return direct;
}

}  // namespace

PYBIND11_MODULE(_movimo_tools, m, py::multiple_interpreters::not_supported()) {
  m.doc() = "Native batch evaluation for movimo_tools";

  py::list packs;
  for (const Pack& pack : kPacks) packs.append(py::make_tuple(pack.name, pack.patterns));
  m.attr("PACKS") = packs;

  m.def("table", [](std::string_view name) { return with_builtin(name, one_period); },
        py::arg("name"));
  m.def("sample",
        [](std::string_view name, const Pips& pips) { return with_builtin(name, at_pips(pips)); },
        py::arg("name"), py::arg("pips"));
  m.def("library_table",
        [](const movimo::PatternLibrary& library, std::string_view name) {
          return with_library_pattern(library, name, one_period);
        },
        py::arg("library"), py::arg("name"));
  m.def("library_sample",
        [](const movimo::PatternLibrary& library, std::string_view name, const Pips& pips) {
          return with_library_pattern(library, name, at_pips(pips));
        },
        py::arg("library"), py::arg("name"), py::arg("pips"));
  m.def("period_pips", [](std::string_view name) { return find_builtin(name).second.period_pips; },
        py::arg("name"));
  m.def("library_period_pips", &library_period, py::arg("library"), py::arg("name"));
  m.def("direct_sampler_count", &direct_sampler_count);
}
