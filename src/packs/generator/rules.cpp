// The families whose tables follow from a closed rule: curves evaluated at
// the loop angle t = 2π·p/P of every row, and event scores rendered by the
// shared raised-cosine engine. Member parameters come from the member text
// ("inside_5_2", "push_3_5") and from the data tables below.

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "content.h"
#include "shaping.h"
#include "units.h"

namespace movimo_gen {
namespace {

// Largest magnitude of the peak-scaled curves, and the radius of the roses.


[[noreturn]] void no_rule(const Entry& entry) {
  throw std::invalid_argument("Member without a rule: " + entry.name);
}

// Callers copy the numbers into plain ints where a lambda uses them: clang 14
// cannot capture structured bindings.
template <std::size_t N>
std::array<int, N> numbers_of(const Entry& entry) {
  const std::vector<int> numbers = member_numbers(entry.member);
  if (numbers.size() != N) no_rule(entry);
  std::array<int, N> fixed;
  std::copy_n(numbers.begin(), N, fixed.begin());
  return fixed;
}

// The word that leads the member text: "inside_5_2" gives "inside".
std::string_view member_word(const Entry& entry) {
  return entry.member.substr(0, entry.member.find('_'));
}

// +1 for even i, -1 for odd i: alternating sides.

Row scaled(Row row, double factor) { return {row.x * factor, row.y * factor, row.z * factor}; }

// ---- Closed curves ----

// Evaluates a curve of the loop angle at every row of the period.
template <class Curve>
Table trace(int period, Curve curve) {
  Table table(static_cast<std::size_t>(period));
  for (int p = 0; p < period; ++p) table[static_cast<std::size_t>(p)] = curve(kTwoPi * p / period);
  return table;
}

template <class Curve>
Table trace_to_peak(int period, Curve curve) {
  Table table = trace(period, curve);
  scale_to_peak(table, kShapePeak);
  return table;
}

struct NamedCurve {
  std::string_view name;
  Row (*at)(double t);
};

double cube(double v) { return v * v * v; }

// Patterns drawn at their written amplitudes.
constexpr NamedCurve kWrittenCurves[] = {
    {"lfo_breathe", [](double t) -> Row { return {0.8 * std::sin(t)}; }},
    {"lfo_flower",  // three lobes from a turn and a counter-turn at twice the speed
     [](double t) -> Row {
       return {0.56 * std::cos(t) - 0.28 * std::cos(2 * t),
               0.56 * std::sin(t) + 0.28 * std::sin(2 * t)};
     }},
    {"lfo_triplet_wobble",
     [](double t) -> Row {
       return {(0.5525 - 0.255 * std::cos(t)) * std::sin(12 * t), 0.22 * std::sin(t)};
     }},
    {"lfo_breathing_orbit",
     [](double t) -> Row {
       return {0.67 * std::cos(t) + 0.11 * std::cos(3 * t),
               0.39 * std::sin(t) + 0.09 * std::sin(3 * t)};
     }},
    {"lfo_pendulum_dwell",  // saturation slows the swing near either side
     [](double t) -> Row {
       return {0.78 * std::tanh(2.8 * std::sin(t)) / std::tanh(2.8), 0.22 * std::cos(2 * t)};
     }},
    {"path_lissajous_2_3",
     [](double t) -> Row { return {0.78 * std::sin(2 * t), 0.68 * std::sin(3 * t)}; }},
    {"path_woven_3d",
     [](double t) -> Row {
       return {0.72 * std::sin(2 * t), 0.64 * std::sin(3 * t), 0.48 * std::sin(5 * t)};
     }},
    {"path_torus_knot",  // two turns around the axis, three through the tube
     [](double t) -> Row {
       const double r = 0.54 + 0.22 * std::cos(3 * t);
       return {r * std::cos(2 * t), r * std::sin(2 * t), 0.36 * std::sin(3 * t)};
     }},
    {"path_bowed_diamond",  // an astroid
     [](double t) -> Row { return {0.8 * cube(std::cos(t)), 0.8 * cube(std::sin(t))}; }},
    {"path_crank_slider",  // crank radius 1, rod length 3, centred on mid-stroke
     [](double t) -> Row {
       const double s = std::sin(t);
       return {0.78 * (std::cos(t) + std::sqrt(9 - s * s) - 3), 0.3 * s};
     }},
};

// Shaped control waves on x, scaled to the curve peak.
constexpr NamedCurve kPeakedWaves[] = {
    {"wave_pinched", [](double t) -> Row { return {cube(std::sin(t))}; }},
    {"wave_shouldered",
     [](double t) -> Row { return {0.69 * std::sin(t) + 0.31 * std::sin(3 * t)}; }},
    {"wave_folded", [](double t) -> Row { return {std::sin(2.2 * std::sin(t))}; }},
    {"wave_rounded_square", [](double t) -> Row { return {std::tanh(2 * std::sin(t))}; }},
};

// A signed-radius rose with n petals, passing through the centre between
// them. An odd rose (k = n) is complete after half a turn of its parameter,
// so the parameter runs at half the loop angle; an even one has k = n/2.
Table rose(const Entry& entry) {
  const int n = numbers_of<1>(entry)[0];
  const bool odd = n % 2 == 1;
  const double k = odd ? n : n / 2;
  return trace(entry.period, [=](double t) -> Row {
    const double u = odd ? t / 2 : t;
    const double radius = kShapePeak * std::cos(k * u);
    return {radius * std::cos(u), radius * std::sin(u)};
  });
}

// Three lanes at frequencies a, b, c with their own phases.
Table space_weave(const Entry& entry) {
  const std::array<int, 3> abc = numbers_of<3>(entry);
  const int a = abc[0], b = abc[1], c = abc[2];
  return trace(entry.period, [a, b, c](double t) -> Row {
    return {0.82 * std::sin(a * t), 0.656 * std::sin(b * t + 0.4), 0.574 * std::cos(c * t + 0.7)};
  });
}

// A (p, q) torus knot: p turns around the axis, q around the tube.
Table space_torus(const Entry& entry) {
  const std::array<int, 2> pq = numbers_of<2>(entry);
  const int p = pq[0], q = pq[1];
  return trace_to_peak(entry.period, [p, q](double t) -> Row {
    const double r = 2.9 + std::cos(q * t);
    return {r * std::cos(p * t), r * std::sin(p * t), 2.1 * std::sin(q * t)};
  });
}

// a horizontal against b vertical cycles, offset in phase.
Table weave(const Entry& entry) {
  const std::array<int, 2> ab = numbers_of<2>(entry);
  const int a = ab[0], b = ab[1];
  return trace_to_peak(entry.period, [a, b](double t) -> Row {
    return {std::sin(a * t + 0.37), 0.8125 * std::sin(b * t)};
  });
}

// Ripple depth c of orbit_harmonic_01 to _16.
constexpr double kHarmonicRipple[] = {0.18, 0.22, 0.25, 0.28, 0.25, 0.20, 0.15, 0.13,
                                      0.34, 0.31, 0.29, 0.26, 0.23, 0.20, 0.17, 0.14};

// An ellipse with a ripple at harmonic m on x and m + 1 on y. Members 1-8
// ripple in phase at harmonics 2-9; members 9-16 at harmonics 2-9 again,
// with a phase lag that grows by 0.3 per member.
Table orbit_harmonic(const Entry& entry) {
  const int j = numbers_of<1>(entry)[0];
  if (j < 1 || j > std::ssize(kHarmonicRipple)) no_rule(entry);
  const bool lagged = j > 8;
  const int m = lagged ? j - 7 : j + 1;
  const double phase = lagged ? 0.5 + 0.3 * (j - 9) : 0.0;
  const double c = kHarmonicRipple[j - 1];
  return trace_to_peak(entry.period, [=](double t) -> Row {
    return {std::cos(t) + c * std::cos(m * t + phase),
            0.72 * std::sin(t) - c * std::sin((m + 1) * t - phase)};
  });
}

// Pen distance d as a share of the rolling radius r, per (R, r).
struct PenRatio {
  int fixed_radius;
  int rolling_radius;
  double ratio;
};
constexpr PenRatio kPenRatios[] = {{3, 1, 0.45}, {4, 1, 0.60}, {5, 2, 0.75}, {5, 1, 0.55},
                                   {7, 2, 0.65}, {7, 3, 0.70}, {8, 3, 0.60}, {9, 4, 0.80}};

// The trace of a pen on a circle of radius r rolling inside or outside a
// fixed circle of radius R.
Table spiro(const Entry& entry) {
  const std::string_view word = member_word(entry);
  const std::array<int, 2> radii = numbers_of<2>(entry);
  const int big_r = radii[0], r = radii[1];
  const PenRatio* pen = nullptr;
  for (const PenRatio& candidate : kPenRatios) {
    if (candidate.fixed_radius == big_r && candidate.rolling_radius == r) pen = &candidate;
  }
  if (pen == nullptr || (word != "inside" && word != "outside")) no_rule(entry);
  const bool inside = word == "inside";
  const int ring = inside ? big_r - r : big_r + r;
  const double d = pen->ratio * r;
  const double pen_x = inside ? d : -d;
  return trace_to_peak(entry.period, [=](double t) -> Row {
    return {ring * std::cos(r * t) + pen_x * std::cos(ring * t),
            ring * std::sin(r * t) - d * std::sin(ring * t)};
  });
}

// ---- Event scores ----

// Renders a score whose event positions assume a loop of `period` pips.
Table render_score(const Entry& entry, double period, std::span<const Event> events) {
  if (entry.period != period) no_rule(entry);
  return render_events(entry.period, events);
}

// E(k, n): k onsets spread as evenly as possible over n eighth notes, the
// first on step 0. The first onset is the phrase accent; sides alternate.
Table euclid(const Entry& entry) {
  const auto [k, n] = numbers_of<2>(entry);
  std::vector<Event> events;
  for (int i = 0; i < k; ++i) {
    const int step = euclidean_step(i, k, n);
    const double accent = i == 0 ? 1.0 : 0.75;
    events.push_back({kEighth * step, {0.75 * accent * side(i), -0.32 * accent, 0.0}, symmetric(24)});
  }
  return render_score(entry, kEighth * n, events);
}

// Two pulse trains of a and b pulses share the 512-pip loop (positions are
// exact fractions); the left train moves left and down, the right train
// right, down and forward. The first pulse of each train is accented.
Table poly(const Entry& entry) {
  const auto [a, b] = numbers_of<2>(entry);
  constexpr double kLoop = 512;
  std::vector<Event> events;
  auto add_train = [&](int pulses, Row push) {
    for (int i = 0; i < pulses; ++i) {
      const double accent = i == 0 ? 1.0 : 0.65;
      events.push_back({kLoop * i / pulses, scaled(push, accent), symmetric(22.4)});
    }
  };
  add_train(a, {-0.62, -0.26, 0.0});
  add_train(b, {0.62, -0.26, 0.22});
  return render_score(entry, kLoop, events);
}

// One event per eighth note of the groups: group starts lean alternately
// right and left, the other notes lightly mark the grid.
Table meter(const Entry& entry) {
  const std::vector<int> groups = member_numbers(entry.member);
  if (groups.size() < 2) no_rule(entry);
  std::vector<Event> events;
  int note = 0;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    events.push_back({kEighth * note, {0.72 * side(g), -0.33, 0.0}, symmetric(19.2)});
    for (int k = 1; k < groups[g]; ++k) {
      events.push_back({kEighth * (note + k), {0.0, -0.1134, 0.0504}, symmetric(32.0 / 3)});
    }
    note += groups[g];
  }
  return render_score(entry, kEighth * note, events);
}

// Stickings of stick_study_01 to _16, eight strokes each: R right hand, L
// left hand, capitals accented.
constexpr std::string_view kStickings[] = {
    "R l r r L r l l", "R r l r L l r l", "R l l r L r r l", "R r l l R l r l",
    "R l r l R r l l", "R r r l L l r l", "R l l l R r r l", "R r l r R l l l",
    "R l r r L l r l", "R r l l R l l r", "R l r l L r r l", "R r r l R l l l",
    "R r r r L r l l", "R r l l L r r l", "R l r r R l l l", "R r l r L l l r",
};

// Sixteen eighth-note strokes: the sticking, then the same with the hands
// swapped. The right hand moves +x, the left -x.
Table stick_study(const Entry& entry) {
  const int member = numbers_of<1>(entry)[0];
  if (member < 1 || member > std::ssize(kStickings)) no_rule(entry);
  std::vector<Event> events;
  for (const bool swapped : {false, true}) {
    for (const char hand : kStickings[member - 1]) {
      if (hand == ' ') continue;
      const bool accented = hand == 'R' || hand == 'L';
      const bool right = (hand == 'R' || hand == 'r') != swapped;
      const Row push = accented ? Row{0.74, -0.34, 0.0} : Row{0.407, -0.187, 0.0};
      const double stroke = kEighth * static_cast<double>(events.size());
      events.push_back({stroke, {right ? push.x : -push.x, push.y, 0.0}, symmetric(12)});
    }
  }
  return render_score(entry, 512, events);
}

// Eight beats of main events, strongest on the two bar downbeats, the others
// alternating sides, with offbeats a fraction f = a/b into the beat. The
// word picks the offbeats: push (every beat), skip (push without the main
// events of beats 2 and 6), answer (opposite-side offbeats in the second
// bar only) and shuffle (answer offbeats on every beat, with a small pickup
// on beats 3 and 7).
Table swing(const Entry& entry) {
  const std::string_view word = member_word(entry);
  const bool skip = word == "skip";
  const bool push = word == "push" || skip;
  const bool answer = word == "answer";
  const bool shuffle = word == "shuffle";
  if (!push && !answer && !shuffle) no_rule(entry);
  const auto [a, b] = numbers_of<2>(entry);
  const double f = static_cast<double>(a) / b;
  std::vector<Event> events;
  for (int j = 0; j < 8; ++j) {
    const double beat = kBeat * j;
    const bool downbeat = j == 0 || j == 4;
    if (!(skip && (j == 2 || j == 6))) {
      const Row main = downbeat ? Row{0.585, -0.216, 0.0} : Row{0.4225 * side(j), -0.156, 0.0};
      events.push_back({beat, main, symmetric(12.8)});
    }
    const double offbeat = beat + kBeat * f;
    if (push) events.push_back({offbeat, {0.075, -0.15, 0.09}, symmetric(8)});
    if (shuffle || (answer && j >= 4)) {
      events.push_back({offbeat, {-0.325 * side(j), -0.12, 0.0}, symmetric(12.8)});
    }
    if (shuffle && (j == 3 || j == 7)) {
      events.push_back({beat + kEighth * f, {0.0525, -0.105, 0.063}, symmetric(6.4)});
    }
  }
  return render_score(entry, 8 * kBeat, events);
}

// ---- Dispatch ----

struct FamilyRule {
  std::string_view family;
  std::string_view word;  // the member's leading word, empty for any
  Table (*table)(const Entry& entry);
};

constexpr FamilyRule kFamilyRules[] = {
    {"path", "rose", rose},
    {"polar", "rose", rose},
    {"space", "weave", space_weave},
    {"space", "torus", space_torus},
    {"weave", "", weave},
    {"orbit", "harmonic", orbit_harmonic},
    {"spiro", "", spiro},
    {"euclid", "", euclid},
    {"poly", "", poly},
    {"meter", "", meter},
    {"stick", "study", stick_study},
    {"swing", "", swing},
};

}  // namespace

std::optional<Table> rule_table(const Entry& entry) {
  for (const NamedCurve& curve : kWrittenCurves) {
    if (entry.name == curve.name) return trace(entry.period, curve.at);
  }
  for (const NamedCurve& wave : kPeakedWaves) {
    if (entry.name == wave.name) return trace_to_peak(entry.period, wave.at);
  }
  for (const FamilyRule& rule : kFamilyRules) {
    if (entry.family == rule.family && (rule.word.empty() || member_word(entry) == rule.word)) {
      return rule.table(entry);
    }
  }
  return std::nullopt;
}

}  // namespace movimo_gen
