// Continuum families that travel a route of authored points: splines through
// asymmetric controls, vertex tours, serpentine scans, reaches from the
// centre, lift-and-hold phrases and oscillation packets.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <numeric>
#include <span>
#include <stdexcept>
#include <string_view>

#include "continuum.h"

namespace movimo_gen::continuum {
namespace {

// A control of a spline shape: the point and the time to the next control,
// in shares of the shape's total.
struct Control {
  double weight;
  Row point;
};

constexpr Control kKite[] = {
    {0.9, {0.00, 0.95, 0}}, {1.5, {0.58, 0.22, 0}}, {1.2, {0.12, -0.55, 0}},
    {0.7, {-0.02, -0.98, 0}}, {1.4, {-0.50, 0.28, 0}},
};
constexpr Control kHourglass[] = {
    {1.0, {-0.70, 0.85, 0}}, {0.6, {0.72, 0.80, 0}}, {1.3, {0.08, 0.02, 0}},
    {0.8, {0.75, -0.86, 0}}, {0.7, {-0.68, -0.80, 0}}, {1.2, {-0.05, -0.04, 0}},
};
constexpr Control kHook[] = {
    {1.2, {-0.60, 0.80, 0}}, {0.9, {0.30, 0.90, 0}}, {1.0, {0.70, 0.30, 0}},
    {1.4, {0.50, -0.60, 0}}, {0.8, {-0.10, -0.80, 0}}, {0.6, {-0.35, -0.45, 0}},
    {1.1, {-0.15, 0.05, 0}},
};
constexpr Control kCrown[] = {
    {0.7, {-0.80, -0.50, 0}}, {0.6, {-0.65, 0.70, 0}}, {0.8, {-0.30, 0.15, 0}},
    {0.6, {0.00, 0.90, 0}}, {0.8, {0.30, 0.20, 0}}, {0.6, {0.70, 0.75, 0}},
    {1.0, {0.82, -0.50, 0}}, {1.6, {0.00, -0.70, 0}},
};
constexpr Control kBow[] = {
    {1.0, {-0.90, 0.35, 0}}, {0.8, {-0.20, 0.10, 0}}, {1.2, {0.85, 0.45, 0}},
    {0.7, {0.95, -0.30, 0}}, {1.3, {0.15, -0.05, 0}}, {0.9, {-0.80, -0.40, 0}},
};
constexpr Control kCrookedCross[] = {
    {0.5, {0.00, 0.90, 0}}, {0.5, {0.12, 0.15, 0}}, {0.6, {0.85, 0.20, 0}},
    {0.5, {0.10, -0.05, 0}}, {0.7, {0.20, -0.90, 0}}, {0.5, {-0.05, -0.10, 0}},
    {0.6, {-0.80, 0.10, 0}}, {0.5, {-0.10, 0.20, 0}},
};
constexpr Control kAsymmetricStar[] = {
    {0.6, {0.00, 0.95, 0}}, {0.9, {-0.21, 0.28, 0}}, {0.5, {-0.76, 0.25, 0}},
    {0.8, {-0.40, -0.13, 0}}, {0.7, {-0.53, -0.73, 0}}, {0.6, {0.00, -0.30, 0}},
    {0.9, {0.41, -0.57, 0}}, {0.5, {0.36, -0.12, 0}}, {0.8, {0.81, 0.26, 0}},
    {0.7, {0.26, 0.36, 0}},
};
constexpr Control kScoop[] = {
    {1.4, {-0.85, 0.60, 0}}, {0.9, {-0.55, -0.35, 0}}, {0.7, {0.00, -0.75, 0}},
    {0.9, {0.60, -0.40, 0}}, {0.6, {0.88, 0.50, 0}}, {1.5, {0.10, 0.25, 0}},
};
constexpr Control kRisingKite[] = {
    {0.9, {0.00, 0.95, 0.50}}, {1.5, {0.58, 0.22, 0.20}}, {1.2, {0.12, -0.55, -0.20}},
    {0.7, {-0.02, -0.98, -0.45}}, {1.4, {-0.50, 0.28, 0.10}},
};
constexpr Control kTwistedBow[] = {
    {1.0, {-0.90, 0.35, 0.40}}, {0.8, {-0.20, 0.10, 0.10}}, {1.2, {0.85, 0.45, -0.45}},
    {0.7, {0.95, -0.30, 0.35}}, {1.3, {0.15, -0.05, -0.05}}, {0.9, {-0.80, -0.40, -0.40}},
};
constexpr Control kCup[] = {
    {1.2, {-0.85, 0.75, 0.20}}, {0.9, {-0.60, -0.30, -0.30}}, {1.0, {0.00, -0.70, -0.50}},
    {0.9, {0.60, -0.30, -0.30}}, {1.1, {0.85, 0.75, 0.20}}, {1.6, {0.00, 0.55, 0.50}},
};
constexpr Control kBridge[] = {
    {1.0, {-0.90, -0.60, 0.00}}, {0.8, {-0.70, 0.20, 0.30}}, {1.4, {0.00, 0.60, 0.55}},
    {0.8, {0.70, 0.20, 0.30}}, {1.0, {0.90, -0.60, 0.00}}, {1.6, {0.00, -0.35, -0.40}},
};
constexpr Control kDoubleBay[] = {
    {0.8, {-0.90, 0.30, 0.10}}, {0.7, {-0.50, -0.50, 0.40}}, {0.8, {-0.10, 0.10, 0.00}},
    {0.7, {0.40, -0.55, -0.40}}, {0.9, {0.88, 0.25, -0.10}}, {1.5, {0.00, 0.70, 0.30}},
};
constexpr Control kSlantedLoop[] = {
    {1.0, {-0.80, -0.70, -0.30}}, {0.7, {0.20, -0.20, 0.10}}, {0.9, {0.85, 0.55, 0.45}},
    {1.2, {0.30, 0.80, 0.20}}, {1.1, {-0.25, 0.10, -0.35}},
};
constexpr Control kFork[] = {
    {0.6, {0.00, -0.90, 0.00}}, {0.6, {0.05, -0.10, 0.20}}, {0.7, {-0.60, 0.85, 0.45}},
    {0.6, {-0.10, 0.20, 0.10}}, {0.7, {0.10, 0.92, -0.30}}, {0.6, {0.15, 0.25, 0.00}},
    {0.7, {0.70, 0.80, 0.40}}, {0.8, {0.12, -0.20, -0.20}},
};
constexpr Control kFoldedCrown[] = {
    {0.7, {-0.80, -0.50, 0.30}}, {0.6, {-0.65, 0.70, -0.30}}, {0.8, {-0.30, 0.15, 0.40}},
    {0.6, {0.00, 0.90, -0.45}}, {0.8, {0.30, 0.20, 0.40}}, {0.6, {0.70, 0.75, -0.30}},
    {1.0, {0.82, -0.50, 0.30}}, {1.6, {0.00, -0.70, -0.35}},
};

struct SplineShape {
  std::string_view member;
  std::span<const Control> controls;
};

constexpr std::array<SplineShape, 16> kSplines{{
    {"kite", kKite},           {"hourglass", kHourglass},     {"hook", kHook},
    {"crown", kCrown},         {"bow", kBow},                 {"crooked_cross", kCrookedCross},
    {"asymmetric_star", kAsymmetricStar}, {"scoop", kScoop}, {"rising_kite", kRisingKite},
    {"twisted_bow", kTwistedBow}, {"cup", kCup},              {"bridge", kBridge},
    {"double_bay", kDoubleBay}, {"slanted_loop", kSlantedLoop}, {"fork", kFork},
    {"folded_crown", kFoldedCrown},
}};

// Keys at the cumulative times of the controls' weights.
std::vector<Key> keys_of(std::span<const Control> controls) {
  double total = 0.0;
  for (const Control& control : controls) total += control.weight;
  std::vector<Key> keys;
  double elapsed = 0.0;
  for (const Control& control : controls) {
    keys.push_back({elapsed / total, control.point});
    elapsed += control.weight;
  }
  return keys;
}

Table trace_keys(const Entry& entry, std::span<const Key> keys) {
  return trace_path(entry, [&](double t) { return hermite_loop(keys, t / kTwoPi); });
}

}  // namespace

Table spline(const Entry& entry) {
  const auto shape = std::find_if(kSplines.begin(), kSplines.end(),
                                  [&](const SplineShape& s) { return s.member == entry.member; });
  if (shape == kSplines.end()) throw std::invalid_argument("Unknown spline shape: " + entry.name);
  return trace_keys(entry, keys_of(shape->controls));
}

// Visits every k-th vertex of an n-gon with a dented rim. At each vertex the
// path halts, alternately long and short, then eases along the chord to the
// next one; 3-axis members give every vertex a depth of its own.
Table tour(const Entry& entry) {
  const std::vector<int> nk = member_numbers(entry.member);
  const int n = nk[0];
  const int step = nk[1];
  auto vertex = [&](int j) {
    const double angle = kTwoPi * j / n + 0.3;
    const double radius = 1.0 + 0.14 * std::cos(2.0 * angle + 0.6) + 0.06 * std::cos(3.0 * angle);
    return Row{radius * std::cos(angle), 0.78 * radius * std::sin(angle),
               0.45 * std::sin(2.0 * angle + 1.1)};
  };
  return trace_path(entry, [&](double t) {
    const double position = t / kTwoPi * n;
    const int visit = static_cast<int>(position);
    const double hold = visit % 2 == 0 ? 0.32 : 0.14;
    const double s = std::max(0.0, (position - visit - hold) / (1.0 - hold));
    return lerp(vertex(visit * step % n), vertex((visit + 1) * step % n), smootherstep(s));
  });
}

// Passes along n rows, alternating direction, with rounded turns between
// them, then an outer return to the start: round the right side and over
// the top after an odd count, up the left side after an even one. `bowed`
// arches the rows, `tilted` slopes them, `depth` sets each row at its own
// depth.
Table scan(const Entry& entry) {
  const int rows = member_numbers(entry.member)[0];
  const std::string_view word = member_word(entry.member);
  auto row_point = [&](int i, double x) {
    const double y = 0.66 - 1.24 * i / (rows - 1) + (word == "bowed" ? 0.22 * (1.0 - x * x) : 0.0) +
                     (word == "tilted" ? 0.2 * x : 0.0);
    const double z = word == "depth" ? 0.5 - 1.0 * i / (rows - 1) : 0.0;
    return Row{x, y, z};
  };
  std::vector<Control> route;
  for (int i = 0; i < rows; ++i) {
    const double dir = i % 2 == 0 ? 1.0 : -1.0;
    route.push_back({0.5, row_point(i, -dir)});
    route.push_back({0.5, row_point(i, 0.0)});
    route.push_back({0.35, row_point(i, dir)});
    if (i + 1 < rows) {
      const Row a = row_point(i, dir);
      const Row b = row_point(i + 1, dir);
      route.push_back({0.35, {dir * 1.12, (a.y + b.y) / 2, (a.z + b.z) / 2}});
    }
  }
  const Row start = row_point(0, -1.0);
  if (rows % 2 == 1) {
    route.push_back({0.5, {1.2, 0.0, 0.25}});
    route.push_back({0.6, {0.9, start.y + 0.3, 0.1}});
    route.push_back({0.5, {-0.2, start.y + 0.34, -0.1}});
    route.push_back({0.4, {-1.12, start.y + 0.12, -0.05}});
  } else {
    route.push_back({0.6, {-1.22, 0.0, -0.3}});
    route.push_back({0.5, {-1.15, start.y + 0.2, 0.1}});
  }
  for (Control& control : route) {
    if (word != "depth") control.point.z = 0.0;
  }
  return trace_keys(entry, keys_of(route));
}

namespace {

// One reach of a shaped family, at s in [0, 1]: how far along its direction
// and how far to the side it is, and its depth; all three vanish with zero
// velocity at both ends, where the reach sits at the centre.
struct ReachPoint {
  double along;
  double side;
  double depth;
};

ReachPoint reach_point(std::string_view word, double s) {
  const double arc = std::sin(kPi * s);
  const double out = arc * arc;
  const double swap = std::sin(kTwoPi * s) * arc;  // one side going out, the other coming back
  if (word == "scoop") return {out, 0.42 * swap, 0.0};
  if (word == "hook") return {out, 1.1 * s * out * out, 0.0};  // curls as it comes back
  if (word == "lift") return {out, 0.18 * swap, 0.6 * out * (0.6 + 0.4 * arc)};
  return {out * (1.0 - 1.35 * s), 0.12 * swap, 0.0};  // recoils past the centre
}

}  // namespace

// n reaches in turn, each in its own direction and length, leaving from and
// settling back to the centre.
Table reach(const Entry& entry) {
  const int n = member_numbers(entry.member)[0];
  const std::string_view word = member_word(entry.member);
  return trace_path(entry, [&](double t) {
    const double position = t / kTwoPi * n;
    const int j = static_cast<int>(position);
    const double angle = kTwoPi * j / n + 0.3 + 0.25 * std::sin(1.9 * j);
    const double length = 1.0 - 0.18 * ((3 * j) % n) / n;
    const ReachPoint r = reach_point(word, position - j);
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    return Row{length * (r.along * c - r.side * s), 0.85 * length * (r.along * s + r.side * c),
               length * r.depth};
  });
}

namespace {

// Two lifts from home, each held, a transfer and the settling return; the
// durations are eighth notes of the sixteen-beat loop, in that order.
struct Phrase {
  Row first;
  Row second;
  Row transfer;
  std::array<int, 6> eighths;  // lift, hold, lift, hold, transfer, return
};

constexpr Row kHome{0.0, -0.3, 0.0};
constexpr int kPhraseEighths = 32;

constexpr std::array<Phrase, 16> kPhrases{{
    {{-0.25, 0.35, 0.10}, {0.20, 0.80, 0.25}, {0.90, 0.10, -0.20}, {4, 5, 3, 6, 6, 8}},
    {{0.30, 0.50, -0.10}, {-0.10, 0.75, 0.30}, {-0.92, 0.05, 0.10}, {3, 6, 4, 4, 7, 8}},
    {{0.10, 0.25, 0.30}, {0.45, 0.65, 0.45}, {-0.60, 0.30, -0.30}, {5, 4, 3, 7, 5, 8}},
    {{-0.40, 0.60, 0.00}, {-0.15, 0.35, 0.40}, {0.85, -0.10, 0.20}, {3, 8, 3, 3, 7, 8}},
    {{0.20, 0.70, 0.20}, {0.55, 0.45, -0.30}, {-0.70, -0.05, 0.35}, {4, 4, 4, 6, 6, 8}},
    {{-0.10, 0.40, -0.30}, {0.35, 0.90, 0.00}, {0.80, 0.20, 0.40}, {6, 3, 4, 5, 6, 8}},
    {{0.45, 0.30, 0.15}, {0.10, 0.70, -0.25}, {-0.88, 0.15, 0.00}, {3, 4, 5, 6, 6, 8}},
    {{-0.30, 0.55, 0.35}, {-0.55, 0.25, -0.10}, {0.75, -0.20, -0.30}, {4, 6, 3, 4, 7, 8}},
    {{0.00, 0.45, 0.50}, {0.30, 0.85, 0.20}, {-0.80, 0.00, -0.25}, {5, 4, 3, 6, 6, 8}},
    {{0.25, 0.30, -0.40}, {-0.20, 0.60, -0.10}, {0.95, 0.25, 0.30}, {3, 7, 4, 4, 6, 8}},
    {{-0.50, 0.50, 0.10}, {0.00, 0.80, 0.45}, {0.70, -0.15, -0.10}, {4, 4, 5, 5, 6, 8}},
    {{0.35, 0.65, 0.25}, {0.60, 0.35, 0.50}, {-0.75, 0.20, -0.35}, {6, 4, 3, 5, 6, 8}},
    {{-0.20, 0.20, -0.20}, {0.15, 0.70, 0.35}, {0.85, 0.05, 0.15}, {3, 6, 5, 4, 6, 8}},
    {{0.15, 0.55, 0.40}, {-0.35, 0.85, -0.20}, {-0.90, -0.10, 0.25}, {4, 5, 4, 6, 5, 8}},
    {{-0.35, 0.35, -0.35}, {0.05, 0.60, 0.10}, {0.80, 0.30, 0.45}, {5, 3, 4, 6, 6, 8}},
    {{0.40, 0.45, 0.00}, {0.20, 0.90, 0.40}, {-0.85, 0.10, -0.20}, {3, 5, 3, 7, 6, 8}},
}};

}  // namespace

Table dwell(const Entry& entry) {
  const Phrase& phrase = kPhrases.at(member_index(entry.member));
  if (std::accumulate(phrase.eighths.begin(), phrase.eighths.end(), 0) != kPhraseEighths) {
    throw std::logic_error("Phrase does not fill the loop: " + entry.name);
  }
  // Segment i runs from pose[i] to pose[i + 1].
  const std::array<Row, 7> pose{kHome,         phrase.first,    phrase.first, phrase.second,
                                phrase.second, phrase.transfer, kHome};
  return trace_path(entry, [&](double t) {
    double eighth = t / kTwoPi * kPhraseEighths;
    std::size_t i = 0;
    while (i + 1 < phrase.eighths.size() && eighth >= phrase.eighths[i]) {
      eighth -= phrase.eighths[i++];
    }
    const double s = eighth / phrase.eighths[i];
    const double e = smootherstep(s);
    Row at = lerp(pose[i], pose[i + 1], e);
    // Lifts arc upwards and the transfer swings through depth; holds stay.
    const double arc = std::sin(kPi * e);
    if (i == 0 || i == 2) at.y += 0.12 * arc;
    if (i == 4) at.z += 0.15 * arc;
    if (i + 1 == phrase.eighths.size()) {
      // The return overshoots home and settles in a decaying ring.
      const double ring = 0.5 * std::sin(3.0 * kPi * s) * (1.0 - s) * (1.0 - s) * s;
      at = lerp(at, phrase.transfer, -ring);
    }
    return at;
  });
}

// n oscillation packets with raised-cosine edges, one per share of the loop
// and separated by rests. The words shape the side motion: `alternating`
// flips each packet, `cascading` grows the packets' rate and drop,
// `crossing` swings y a quarter cycle behind x, `depth` adds a depth swell.
Table packet(const Entry& entry) {
  constexpr double kSide = 0.2756;   // largest vertical swing
  constexpr double kDepth = 0.3472;  // largest depth swing
  constexpr double kFilled = 0.84;   // share of each slot a packet fills
  const int n = member_numbers(entry.member)[0];
  const std::string_view word = member_word(entry.member);
  const double slot = static_cast<double>(entry.period) / n;
  Table table(static_cast<std::size_t>(entry.period));
  for (int p = 0; p < entry.period; ++p) {
    const int k = static_cast<int>(p / slot);
    const double length = kFilled * slot;
    const double s = (p - (k + 0.5) * slot + length / 2) / length;
    if (s <= 0.0 || s >= 1.0) continue;
    const double edge = std::sin(kPi * s);
    const double window = edge * edge;
    const double flip = k % 2 == 0 ? 1.0 : -1.0;
    // About one cycle per 40 pips of packet; cascading packets speed up.
    const int base = std::max(2, static_cast<int>(std::lround(length / 40.0)));
    const int cycles = word == "cascading" ? base + k / 2 : base + k % 2;
    const double phase = kTwoPi * cycles * s;
    Row& row = table[static_cast<std::size_t>(p)];
    row.x = window * std::sin(phase) * (word == "cascading" ? 1.0 - 0.15 * k : 1.0) * flip;
    if (word == "alternating") row.y = kSide * window * flip;
    if (word == "cascading") row.y = -kSide * window * (k + 1) / n;
    if (word == "crossing") row.y = kSide * window * std::cos(phase);
    if (word == "depth") {
      row.y = -0.4 * kSide * window;
      row.z = kDepth * window * flip;
    }
  }
  // x alone is scaled to the path peak; the side swings keep their amplitudes.
  double largest = 0.0;
  for (const Row& row : table) largest = std::max(largest, std::fabs(row.x));
  for (Row& row : table) row.x *= kShapePeak / largest;
  return table;
}

}  // namespace movimo_gen::continuum
