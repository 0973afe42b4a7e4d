#pragma once

// How the bindings read Python objects into movimo's native types. Both
// extension modules include this, so that every function of either one
// sees a bound class, a pattern's rows and a recording's frames alike.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "movimo/core.h"
#include "movimo/pattern_library.h"
#include "movimo/sampled_pattern.h"
#include "movimo/sampled_recording.h"

namespace pybind11::detail {

// An instance of a bound class whose initialiser never ran (made by
// __new__ alone, copied by copy.copy, or left by a failed __init__) holds no
// native object, and pybind11 would hand out raw memory in its place. This
// caster refuses such an instance with a TypeError wherever it is passed: as
// self to every method and property, and as an argument. It also refuses
// None, which no movimo function takes in place of an object.
template <typename T>
struct initialised_caster : type_caster_base<T> {
  bool load(handle source, bool convert) {
    if (source.is_none()) return false;
    PyTypeObject* const bound = this->typeinfo->type;
    if (PyObject_TypeCheck(source.ptr(), bound) && !initialised(source)) {
      throw type_error(get_fully_qualified_tp_name(Py_TYPE(source.ptr())) +
                       " object was never initialised: its __init__ did not run");
    }
    return type_caster_base<T>::load(source, convert);
  }

 private:
  bool initialised(handle source) const {
    auto* const self = reinterpret_cast<instance*>(source.ptr());
    return self->get_value_and_holder(this->typeinfo).holder_constructed();
  }
};

template <>
struct type_caster<movimo::SampledRecording> : initialised_caster<movimo::SampledRecording> {};
template <>
struct type_caster<movimo::Offset3> : initialised_caster<movimo::Offset3> {};
template <>
struct type_caster<movimo::SampledPattern> : initialised_caster<movimo::SampledPattern> {};
template <>
struct type_caster<movimo::PatternLibrary> : initialised_caster<movimo::PatternLibrary> {};

// The same acceptance as pybind11's list caster: any sequence but str and
// bytes, and with conversion on also generators, sets, dict views, map and
// zip (read into a tuple first).
inline object as_sequence(handle source, bool convert) {
  if (!object_is_convertible_to_std_vector(source)) return {};
  if (isinstance<sequence>(source)) return reinterpret_borrow<object>(source);
  if (!convert) return {};
  return tuple(reinterpret_borrow<iterable>(source));
}

// A pattern library's patterns as pointers to the given objects, so that
// the library tests them all before copying any. The caster keeps every
// object it read alive for the call, since a generator or a sequence may
// hand out objects nothing else holds. More patterns than a library holds
// are passed on as that many null pointers plus one, unread: the library
// refuses the count before it looks at any pattern.
template <>
struct type_caster<std::vector<const movimo::SampledPattern*>> {
  PYBIND11_TYPE_CASTER(std::vector<const movimo::SampledPattern*>,
                       make_caster<std::vector<movimo::SampledPattern>>::name);

  bool load(handle source, bool convert) {
    const object patterns = as_sequence(source, convert);
    if (!patterns) return false;
    value.clear();
    if (len(patterns) > kLimit) {
      value.resize(kLimit + 1);
      return true;
    }
    for (const handle item : patterns) {
      make_caster<movimo::SampledPattern> pattern;
      if (!pattern.load(item, convert)) return false;
      held_.append(item);
      value.push_back(&cast_op<const movimo::SampledPattern&>(pattern));
    }
    return true;
  }

 private:
  static constexpr std::size_t kLimit = movimo::PatternLibrary::kMaxPatterns;

  list held_;
};

// A pattern's rows: three reals each, x, y, z. Each row is read once, by
// iterating it, and must yield exactly the three items its length promised,
// so a row that changes while it is read is refused. More rows than a
// pattern holds, by their length or as they are read, are passed on as one
// row past the limit: the constructor refuses that size without the rest
// being converted.
template <>
struct type_caster<std::vector<movimo::Offset3>> {
  using Rows = std::vector<std::array<double, 3>>;  // named for the annotation only
  PYBIND11_TYPE_CASTER(std::vector<movimo::Offset3>, make_caster<Rows>::name);

  bool load(handle source, bool convert) {
    const object rows = as_sequence(source, convert);
    if (!rows) return false;
    if (len(rows) > kLimit) {
      value.assign(kLimit + 1, movimo::Offset3{});
      return true;
    }
    std::vector<movimo::Offset3> loaded;
    for (const handle row : rows) {
      if (loaded.size() > kLimit) break;
      std::array<double, 3> xyz;
      if (!load_row(row, convert, xyz)) return false;
      loaded.push_back({xyz[0], xyz[1], xyz[2]});
    }
    value = std::move(loaded);
    return true;
  }

 private:
  static bool load_row(handle source, bool convert, std::array<double, 3>& xyz) {
    const object row = as_sequence(source, convert);
    if (!row || len(row) != xyz.size()) return false;
    std::size_t count = 0;
    for (const handle item : row) {
      make_caster<double> real;
      if (count == xyz.size() || !real.load(item, convert)) return false;
      xyz[count++] = cast_op<double>(real);
    }
    return count == xyz.size();
  }

  static constexpr std::size_t kLimit = movimo::SampledPattern::kMaxSamples;
};

// A recording's axis names, the only list of strings either module reads.
// Reading stops one name past the most axes a recording holds: the
// constructor refuses that many, in its usual order of tests, without the
// rest being converted. Names too many by their length alone are passed on
// as no names at all, which the constructor refuses at the same test with
// the same message, and which costs nothing to make. Everything else is
// pybind11's list caster.
template <>
struct type_caster<std::vector<std::string>>
    : list_caster<std::vector<std::string>, std::string> {
  bool load(handle source, bool convert) {
    const object names = as_sequence(source, convert);
    if (!names) return false;
    if (len(names) > kLimit) {
      value.clear();
      return true;
    }
    std::vector<std::string> loaded;
    loaded.reserve(len(names));
    for (const handle item : names) {
      if (loaded.size() > kLimit) break;
      make_caster<std::string> name;
      if (!name.load(item, convert)) return false;
      loaded.push_back(cast_op<std::string&&>(std::move(name)));
    }
    value = std::move(loaded);
    return true;
  }

 private:
  static constexpr std::size_t kLimit = movimo::SampledRecording::kMaxValues;
};

// Recording frames go straight into one flat block instead of one vector per
// frame, which would cost far more memory than the values themselves. The
// caster accepts exactly what a list of lists of reals accepts and reports
// itself under the same annotation. It stops reading once the frames, or
// the values read, pass the most any recording holds: the constructor then
// refuses them, in its usual order of tests, without the rest converted.
// Frames, or a frame's values, whose length alone passes that limit are
// not read at all; lengths that change while read are caught as they pass.
template <>
struct type_caster<movimo::RecordingFrames> {
  PYBIND11_TYPE_CASTER(movimo::RecordingFrames,
                       make_caster<std::vector<std::vector<double>>>::name);

  bool load(handle source, bool convert) {
    const object frames = as_sequence(source, convert);
    if (!frames) return false;
    movimo::RecordingFrames loaded;
    bool uniform = true;     // every frame so far had the first frame's length
    std::size_t values = 0;  // read so far, kept or not
    if (len(frames) > kLimit) return oversized(frames, loaded);
    for (const handle frame_source : frames) {
      if (loaded.count == kLimit) return oversized(frames, loaded);
      const object frame = as_sequence(frame_source, convert);
      if (!frame) return false;
      if (len(frame) > kLimit - values) return oversized(frames, loaded);
      if (loaded.count == 0) reserve(loaded.values, len(frames), len(frame));
      const std::size_t before = loaded.values.size();
      // Every element is converted, kept or not, so that a bad one is a
      // TypeError whatever comes before it.
      for (const handle item : frame) {
        if (values == kLimit) {
          loaded.values.resize(before);  // this frame counts as ragged
          return oversized(frames, loaded);
        }
        ++values;
        make_caster<double> real;
        if (!real.load(item, convert)) return false;
        if (uniform) loaded.values.push_back(cast_op<double>(real));
      }
      if (uniform) {
        const std::size_t length = loaded.values.size() - before;
        if (loaded.count == 0) loaded.first_length = length;
        uniform = length == loaded.first_length;
        if (uniform) {
          ++loaded.uniform_count;
        } else {
          loaded.values.resize(before);
        }
      }
      ++loaded.count;
    }
    value = std::move(loaded);
    return true;
  }

 private:
  static constexpr std::size_t kLimit = movimo::SampledRecording::kMaxValues;

  // Frames read up to the one that passed a limit, which is left out as
  // ragged. The count is one more than the frames read, or the count the
  // sequence reports if larger, so the constructor's tests decide in their
  // usual order: had the left-out frame the length of those before it, the
  // size test fails for that count.
  bool oversized(const object& frames, movimo::RecordingFrames& loaded) {
    loaded.count = std::max(loaded.count + 1, len(frames));
    value = std::move(loaded);
    return true;
  }

  // Room for all frames at the first frame's length, up to the value limit.
  static void reserve(std::vector<double>& values, std::size_t frames, std::size_t length) {
    values.reserve(std::min(frames, kLimit / std::max<std::size_t>(length, 1)) * length);
  }
};

}  // namespace pybind11::detail
