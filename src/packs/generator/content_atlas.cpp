// Authored tables of the atlas pack: shaped control waves, envelopes,
// position sequences, digest-seeded noise paths, mechanism traces and
// single-point gestures. Families with a closed rule come from rules.cpp.

#include <algorithm>
#include <cmath>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "content.h"
#include "curves.h"
#include "sha256.h"
#include "shaping.h"
#include "units.h"

namespace movimo_gen {
namespace {

Table sample_curve(int period, const std::function<Row(double t)>& curve) {
  Table table(static_cast<std::size_t>(period));
  for (int p = 0; p < period; ++p) table[p] = curve(kTwoPi * p / period);
  return table;
}

// ---- wave_: shaped control waves from a few harmonics ----

struct WaveRecipe {
  std::string_view member;
  std::vector<Partial> partials;
};

// Harmonic 0 with phase π/2 is a constant offset.
const std::vector<WaveRecipe>& wave_recipes() {
  constexpr double kHalfPi = kPi / 2.0;
  static const std::vector<WaveRecipe> recipes = {
      // Third harmonic dominant: three folds per cycle, tilted by the fundamental.
      {"double_fold", {{1, 0.35, 0.0}, {3, 1.0, 0.0}, {5, 0.2, 0.0}}},
      // A full-wave rectified sine cut after its second harmonic.
      {"soft_rectifier", {{0, 2.0 / kPi, kHalfPi}, {2, 4.0 / (3.0 * kPi), -kHalfPi}}},
      {"skew_warp", {{1, 1.0, 0.0}, {2, 0.32, 0.0}, {3, 0.1, 0.0}}},
      {"scoop_warp", {{1, 1.0, 0.0}, {2, 0.3, kHalfPi}, {4, 0.08, kHalfPi}}},
      {"shelf_wave", {{1, 1.0, 0.0}, {3, 0.25, 0.9}, {5, 0.08, 0.4}}},
      {"notched", {{1, 1.0, 0.0}, {3, 0.3, 0.5}, {5, 0.1, 1.0}}},
      {"bottle", {{1, 1.0, 0.0}, {3, 0.2, kPi}, {5, 0.12, 0.0}}},
      {"reed", {{1, 1.0, 0.0}, {6, 0.1, 0.0}, {8, 0.07, 0.0}}},
      // An inverted second harmonic splits the cycle into a high and a low crest.
      {"unequal_peaks", {{1, 0.5, 0.0}, {2, 0.8, -kHalfPi}}},
      {"ripple_return", {{1, 1.0, 0.0}, {2, 0.28, 0.3}, {4, 0.09, 0.8}, {6, 0.05, 0.2}}},
      {"soft_teeth", {{1, 1.0, 0.0}, {3, 0.2, 0.0}, {5, 0.16, kPi}}},
      {"warped_fold", {{1, 1.0, 0.0}, {3, 0.45, 0.6}, {5, 0.15, 1.4}}},
  };
  return recipes;
}

Table wave(const Entry& entry) {
  for (const WaveRecipe& recipe : wave_recipes()) {
    if (recipe.member != entry.member) continue;
    Table table = sample_x(entry.period, [&](double t) { return harmonic_sum(recipe.partials, t); });
    scale_to_peak(table, kShapePeak);
    return table;
  }
  throw std::invalid_argument("No wave recipe: " + entry.name);
}

// ---- env_: eight-beat envelopes on y ----

// A vertical level reached at a pip of the phrase.
struct Level {
  double at;
  double y;
};

struct Envelope {
  std::string_view member;
  std::vector<Level> levels;
};

// Each envelope leaves rest (or a slow drift) at the start of the phrase,
// travels mostly downward and comes back to its starting level at the end.
const std::vector<Envelope>& envelopes() {
  static const std::vector<Envelope> shapes = {
      {"lift_hold_drop", {{0, 0.0}, {64, -0.78}, {160, -0.78}, {480, 0.0}}},
      {"inhale_exhale", {{0, 0.0}, {352, -0.8}, {448, 0.0}}},
      {"triple_swell", {{0, 0.0}, {64, -0.5}, {128, -0.15}, {208, -0.8}, {288, -0.2}, {360, -0.42}, {472, 0.0}}},
      {"rising_echo",
       {{0, 0.0}, {32, -0.25}, {64, -0.1}, {112, -0.45}, {144, -0.25}, {192, -0.65}, {224, -0.4}, {272, -0.82}, {480, 0.0}}},
      {"falling_echo",
       {{0, 0.0}, {48, -0.8}, {96, -0.5}, {144, -0.62}, {192, -0.35}, {240, -0.45}, {288, -0.2}, {336, -0.27}, {476, 0.0}}},
      {"anticipation", {{0, 0.0}, {64, 0.18}, {96, 0.18}, {176, -0.78}, {320, -0.7}, {472, 0.0}}},
      {"plateau_scoop", {{0, 0.0}, {48, -0.45}, {240, -0.45}, {320, -0.1}, {384, -0.75}, {480, 0.0}}},
      {"hesitant",
       {{0, 0.0}, {64, -0.3}, {112, -0.3}, {160, -0.5}, {208, -0.5}, {272, -0.76}, {296, -0.76}, {464, 0.0}}},
      {"double_hold", {{0, 0.0}, {40, -0.3}, {184, -0.3}, {224, -0.74}, {288, -0.74}, {464, 0.0}}},
      {"swell_recoil", {{0, 0.0}, {176, -0.8}, {272, 0.22}, {336, 0.1}, {460, 0.0}}},
      {"late_release", {{0, -0.06}, {48, -0.72}, {112, -0.5}, {400, -0.3}, {488, -0.06}}},
      {"split_attack", {{0, 0.0}, {24, -0.4}, {56, -0.4}, {88, -0.76}, {200, -0.45}, {480, 0.0}}},
      {"suspended", {{0, 0.0}, {80, -0.7}, {144, -0.7}, {208, -0.2}, {272, -0.2}, {336, -0.5}, {384, -0.5}, {480, 0.0}}},
      {"valley_peaks", {{0, -0.04}, {112, -0.75}, {208, -0.1}, {304, -0.78}, {464, -0.04}}},
      {"four_breaths",
       {{0, 0.0}, {48, -0.7}, {96, -0.1}, {144, -0.62}, {192, -0.1}, {240, -0.55}, {288, -0.1}, {336, -0.48}, {470, 0.0}}},
      {"return_stair",
       {{0, 0.0}, {40, -0.8}, {88, -0.8}, {112, -0.6}, {160, -0.6}, {184, -0.4}, {232, -0.4}, {256, -0.2}, {320, -0.2}, {448, 0.0}}},
  };
  return shapes;
}

Table envelope(const Entry& entry) {
  for (const Envelope& shape : envelopes()) {
    if (shape.member != entry.member) continue;
    std::vector<Key> keys;
    for (const Level& level : shape.levels) keys.push_back({level.at, {0.0, level.y, 0.0}});
    return eased_keys(entry.period, keys);
  }
  throw std::invalid_argument("No envelope: " + entry.name);
}

// ---- seq_: programmed position sequences ----

struct Sequence {
  std::string_view word;
  std::vector<Row> positions;  // (x, y) of each step
};

const std::vector<Sequence>& sequences() {
  static const std::vector<Sequence> words = {
      {"up_down", {{-0.82, -0.1}, {-0.41, 0.0}, {0.0, 0.1}, {0.41, 0.2}, {0.82, 0.287}, {0.41, 0.2}, {0.0, 0.1}, {-0.41, 0.0}}},
      {"pendulum", {{-0.82, 0.2}, {0.0, -0.06}, {0.82, 0.2}, {0.0, -0.06}, {-0.6, 0.12}, {0.0, -0.04}, {0.6, 0.12}, {0.0, -0.04}}},
      {"octave", {{-0.6, -0.2}, {0.6, 0.2}, {-0.82, -0.2}, {0.82, 0.2}, {-0.4, -0.1}, {0.4, 0.1}}},
      {"unequal", {{-0.82, 0.0}, {-0.6, 0.08}, {0.1, 0.15}, {0.3, -0.05}, {0.82, 0.1}, {-0.2, 0.2}}},
      {"question", {{-0.5, 0.0}, {-0.3, 0.05}, {-0.4, 0.1}, {0.0, 0.05}, {0.3, 0.15}, {0.82, 0.25}}},
      {"answer", {{0.6, 0.2}, {0.3, 0.15}, {0.45, 0.1}, {0.0, 0.05}, {-0.3, -0.05}, {-0.82, -0.1}}},
      // Advance, slip back a little, advance again.
      {"ratchet", {{-0.82, 0.0}, {-0.4, 0.12}, {-0.5, 0.0}, {-0.08, 0.12}, {-0.18, 0.0}, {0.24, 0.12}, {0.14, 0.0}, {0.82, 0.1}}},
      {"stairs", {{-0.82, -0.2}, {-0.41, -0.1}, {0.0, 0.05}, {0.41, 0.12}, {0.82, 0.2}}},
  };
  return words;
}

// Share of each step spent moving to the next position; the rest is held.
constexpr double kSequenceGlide = 0.4;

// Steps of equal length ("even"), or alternating long and short steps in
// the ratio 3:2 ("lilt").
Table sequence(const Entry& entry) {
  const std::string_view member = entry.member;
  const std::size_t split = member.rfind('_');
  const std::string_view word = member.substr(0, split);
  const bool lilt = member.substr(split + 1) == "lilt";
  for (const Sequence& sequence : sequences()) {
    if (sequence.word != word) continue;
    const std::size_t steps = sequence.positions.size();
    std::vector<double> weights(steps);
    double total = 0.0;
    for (std::size_t i = 0; i < steps; ++i) total += weights[i] = lilt && i % 2 == 1 ? 2.0 : 3.0;
    std::vector<Key> keys;
    double at = 0.0;
    for (std::size_t i = 0; i < steps; ++i) {
      const double length = entry.period * weights[i] / total;
      keys.push_back({at, sequence.positions[i]});
      keys.push_back({at + length * (1.0 - kSequenceGlide), sequence.positions[i]});
      at += length;
    }
    return eased_keys(entry.period, keys);
  }
  throw std::invalid_argument("No sequence: " + entry.name);
}

// ---- noise_: closed paths through digest-indexed control points ----

// Control point i of a member comes from the SHA-256 digest of the text
// "<pattern name>/<i>" (for example "noise_drift_5/3", no terminator):
// its words 0, 1 and 2 (bytes 0-3, 4-7, 8-11, big-endian) mapped onto
// [-1, 1) as u0, u1, u2. The member word decides how they place the point:
//   drift:  (u0, u1)
//   orbit:  angle 2π·(i + 0.35·u0)/n, radius 0.7 + 0.3·u1
//   ripple: angle 2π·(i + 0.25·u0)/n, radius 1 (even i) or 0.55 (odd i) + 0.15·u1
//   depth:  (u0, u1, u2)
// A closed Catmull-Rom curve joins the n points; x and y are scaled
// together to peak 0.82 and z alone to 0.5159.
Row noise_point(std::string_view word, const Entry& entry, int i, int n) {
  const Digest digest = sha256(entry.name + "/" + std::to_string(i));
  const double u0 = digest_unit(digest, 0);
  const double u1 = digest_unit(digest, 1);
  if (word == "drift") return {u0, u1, 0.0};
  if (word == "depth") return {u0, u1, digest_unit(digest, 2)};
  const bool orbit = word == "orbit";
  const double angle = kTwoPi * (i + (orbit ? 0.35 : 0.25) * u0) / n;
  const double radius = orbit ? 0.7 + 0.3 * u1 : (i % 2 == 0 ? 1.0 : 0.55) + 0.15 * u1;
  return {radius * std::cos(angle), radius * std::sin(angle), 0.0};
}

Table noise(const Entry& entry) {
  const std::string_view member = entry.member;
  const std::size_t split = member.find('_');
  const std::string_view word = member.substr(0, split);
  const int n = std::stoi(std::string(member.substr(split + 1)));
  std::vector<Row> points;
  for (int i = 0; i < n; ++i) points.push_back(noise_point(word, entry, i, n));
  Table table(static_cast<std::size_t>(entry.period));
  for (int p = 0; p < entry.period; ++p) {
    table[p] = closed_catmull_rom(points, static_cast<double>(p) / entry.period);
  }
  scale_plane_to_peak(table, kShapePeak);
  scale_axis_to_peak(table, &Row::z, 0.5159);
  return table;
}

// ---- polar_scallop_: positive-radius scalloped loops ----

// n scallops around a circle, r = 1 + 0.28·cos(n·u + 0.6·sin(n·u)): the
// phase warp leans every lobe the same way, and a first-harmonic bulge of
// 0.1 bends the loop towards +x. r stays above 0.6, so the path never
// reaches the centre.
Table polar_scallop(const Entry& entry) {
  const int n = std::stoi(std::string(entry.member.substr(entry.member.find('_') + 1)));
  Table table = sample_curve(entry.period, [n](double u) {
    const double radius = 1.0 + 0.28 * std::cos(n * u + 0.6 * std::sin(n * u)) + 0.1 * std::cos(u);
    return Row{radius * std::cos(u), radius * std::sin(u), 0.0};
  });
  scale_to_peak(table, kShapePeak);
  return table;
}

// ---- mech_: kinematic traces of mechanisms ----
//
// Each trace is a function of the crank (or shaft) angle t over one turn.
// The table centres every axis on the middle of its travel, scales x and y
// together to peak 0.82 and depth to 0.41.

Row lerp(const Row& a, const Row& b, double s) {
  return {a.x + (b.x - a.x) * s, a.y + (b.y - a.y) * s, a.z + (b.z - a.z) * s};
}

// The meeting point of the circle of radius ra about a and the circle of
// radius rb about b that lies to the left of the direction from a to b.
Row circle_meet(const Row& a, double ra, const Row& b, double rb) {
  const double dx = b.x - a.x;
  const double dy = b.y - a.y;
  const double d = std::hypot(dx, dy);
  const double along = (ra * ra - rb * rb + d * d) / (2.0 * d);
  const double across = std::sqrt(ra * ra - along * along);
  return {a.x + (along * dx - across * dy) / d, a.y + (along * dy + across * dx) / d, 0.0};
}

Row crank_pin(double t, double radius) { return {radius * std::cos(t), radius * std::sin(t), 0.0}; }

// Slider-crank with crank radius 1: the piston runs on the line y = -offset
// with a rod of length `rod`; the traced point sits `share` of the way
// along the rod from the crank pin.
Row slider_crank(double t, double rod, double offset, double share) {
  const Row pin = crank_pin(t, 1.0);
  const double drop = pin.y + offset;
  const Row piston = {pin.x + std::sqrt(rod * rod - drop * drop), -offset, 0.0};
  return lerp(pin, piston, share);
}

Row piston_short(double t) { return slider_crank(t, 1.6, 0.0, 0.35); }
Row piston_long(double t) { return slider_crank(t, 4.0, 0.0, 0.75); }
Row offset_crank(double t) { return slider_crank(t, 2.2, 0.5, 0.5); }

// The yoke slides harmonically (x = cos t); a link of 0.7 from its pin
// swings a rocker of radius 1 pivoted 1.2 above, whose end is traced.
Row scotch_yoke(double t) {
  const Row yoke_pin = {std::cos(t), 0.0, 0.0};
  return circle_meet(yoke_pin, 0.7, {0.0, 1.2, 0.0}, 1.0);
}

// Crank-and-slotted-lever quick return: the crank (radius 1, centre 1.6
// above the lever pivot) drives a slotted lever of length 2.8 whose tip
// carries the ram; the stroke with the pin on the far side takes longer.
Row whitworth(double t) {
  const Row pin = {std::cos(t), 1.6 + std::sin(t), 0.0};
  const double lever = std::atan2(pin.x, pin.y);
  return {2.8 * std::sin(lever), 2.8 * std::cos(lever), 0.0};
}

// Flat-faced follower on a cam turned by t: the follower rises with the
// cam's support h(t) and touches it h'(t) off the centre line.
Row flat_follower(double support, double slope) { return {slope, support, 0.0}; }

Row elliptic_cam(double t) {
  constexpr double a = 1.0;
  constexpr double b = 0.6;
  const double s = std::sin(t);
  const double c = std::cos(t);
  const double support = std::sqrt(a * a * s * s + b * b * c * c);
  return flat_follower(support, (a * a - b * b) * s * c / support);
}

// A cam profile as lifts reached at angles (degrees, ascending, the last
// wrapping to the first); cycloidal motion between them, equal lifts dwell.
struct CamKey {
  double degrees;
  double lift;
};

Row cam_profile(double t, std::span<const CamKey> keys) {
  const double degrees = t * 180.0 / kPi;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const CamKey& from = keys[i];
    const CamKey& to = keys[(i + 1) % keys.size()];
    const double end = i + 1 < keys.size() ? to.degrees : to.degrees + 360.0;
    if (degrees < from.degrees || degrees >= end) continue;
    const double span = (end - from.degrees) * kPi / 180.0;
    const double u = (degrees - from.degrees) / (end - from.degrees);
    const double rise = to.lift - from.lift;
    return flat_follower(1.0 + from.lift + rise * (u - std::sin(kTwoPi * u) / kTwoPi),
                         rise * (1.0 - std::cos(kTwoPi * u)) / span);
  }
  return flat_follower(1.0 + keys.front().lift, 0.0);
}

Row two_lobe_cam(double t) {
  const CamKey keys[] = {{0, 0.0},   {30, 0.0},  {90, 0.12},  {120, 0.12},
                         {180, 0.0}, {210, 0.0}, {270, 0.12}, {300, 0.12}};
  return cam_profile(t, keys);
}

Row three_lobe_cam(double t) { return flat_follower(1.0 + 0.08 * std::cos(3.0 * t), -0.24 * std::sin(3.0 * t)); }

// Dwell, cycloidal rise, dwell at the top, return, dwell.
Row cam_return(double t) {
  const CamKey keys[] = {{0, 0.0}, {90, 0.0}, {180, 0.3}, {225, 0.3}, {315, 0.0}};
  return cam_profile(t, keys);
}

// The anchor swings like its pendulum; twice a swing the escape wheel's
// tooth gives the pallet a soft radial impulse.
Row escapement(double t) {
  const double swing = 0.35 * std::sin(t);
  const double impulse = std::max(0.0, std::sin(2.0 * t + 0.6));
  const double reach = 1.0 + 0.12 * impulse * impulse;
  return {reach * std::sin(swing), -reach * std::cos(swing), 0.0};
}

// A feathering paddle hinged on the rim of a turning wheel hangs nearly
// upright, tilting with the wheel; its lower tip is traced.
Row paddle(double t) {
  const double feather = 0.6 * std::sin(t);
  return {std::cos(t) + 0.5 * std::sin(feather), std::sin(t) - 0.5 * std::cos(feather), 0.0};
}

// A non-rotating plate tilted by 0.4 rad nutates about a pivot 0.3 below
// its centre; a rim point rises and falls once a turn and weaves in plan.
Row wobble_plate(double t) {
  constexpr double kTilt = 0.4;
  constexpr double kCentreHeight = 0.3;
  const double k = 1.0 - std::cos(kTilt);
  const double c = std::cos(t);
  const double s = std::sin(t);
  return {kCentreHeight * std::sin(kTilt) * c + 1.0 - c * c * k, kCentreHeight * std::sin(kTilt) * s - s * c * k,
          -c * std::sin(kTilt)};
}

// Beam engine: a crank of radius 0.5 below and beside the beam's pivot
// drives one end of the beam (half-length 1.2) through a rod of 1.3; the
// beam's other end rocks on an arc.
Row rocking_beam(double t) {
  const Row pin = {1.5 + 0.5 * std::cos(t), -1.2 + 0.5 * std::sin(t), 0.0};
  const Row beam_end = circle_meet(pin, 1.3, {0.0, 0.0, 0.0}, 1.2);
  return {-beam_end.x, -beam_end.y, 0.0};
}

// Two cranks geared 1:2 joined by a link; a point 0.4 along the link.
Row coupled_cranks(double t) {
  const Row left = {-0.8 + 0.5 * std::cos(t), 0.5 * std::sin(t), 0.0};
  const Row right = {0.8 + 0.35 * std::cos(2.0 * t + 0.5), 0.35 * std::sin(2.0 * t + 0.5), 0.0};
  return lerp(left, right, 0.4);
}

// Grashof crank-rocker four-bar (ground 2.2, crank 0.6, coupler 2.0,
// rocker 1.4): a coupler point 0.6 off the coupler's midline, with the
// rocker's angle as depth.
Row crank_rocker(double t) {
  const Row ground = {2.2, 0.0, 0.0};
  const Row crank = crank_pin(t, 0.6);
  const Row rocker = circle_meet(crank, 2.0, ground, 1.4);
  const Row middle = lerp(crank, rocker, 0.5);
  const double dx = (rocker.x - crank.x) / 2.0;
  const double dy = (rocker.y - crank.y) / 2.0;
  return {middle.x - 0.6 * dy, middle.y + 0.6 * dx, std::atan2(rocker.y, rocker.x - ground.x)};
}

// Piston stroke on x (crank 1, rod 3) with the crank's balance mass,
// opposite the pin, moving in y and depth.
Row piston_balance(double t) {
  const double s = std::sin(t);
  return {std::cos(t) + std::sqrt(9.0 - s * s) - 3.0, -0.8 * s, -0.8 * std::cos(t)};
}

struct Mechanism {
  std::string_view member;
  Row (*trace)(double t);
};

constexpr Mechanism kMechanisms[] = {
    {"piston_short", piston_short},   {"piston_long", piston_long},
    {"offset_crank", offset_crank},   {"scotch_yoke", scotch_yoke},
    {"whitworth", whitworth},         {"elliptic_cam", elliptic_cam},
    {"two_lobe_cam", two_lobe_cam},   {"three_lobe_cam", three_lobe_cam},
    {"escapement", escapement},       {"paddle", paddle},
    {"wobble_plate", wobble_plate},   {"rocking_beam", rocking_beam},
    {"coupled_cranks", coupled_cranks}, {"crank_rocker", crank_rocker},
    {"piston_balance", piston_balance}, {"cam_return", cam_return},
};

void centre_axis(Table& table, double Row::* axis) {
  double low = table.front().*axis;
  double high = low;
  for (const Row& row : table) {
    low = std::min(low, row.*axis);
    high = std::max(high, row.*axis);
  }
  const double middle = (low + high) / 2.0;
  for (Row& row : table) row.*axis -= middle;
}

Table mechanism(const Entry& entry) {
  for (const Mechanism& mechanism : kMechanisms) {
    if (mechanism.member != entry.member) continue;
    Table table = sample_curve(entry.period, mechanism.trace);
    for (double Row::* axis : {&Row::x, &Row::y, &Row::z}) centre_axis(table, axis);
    scale_plane_to_peak(table, kShapePeak);
    scale_axis_to_peak(table, &Row::z, 0.41);  // flat mechanisms keep z at rest
    return table;
  }
  throw std::invalid_argument("No mechanism: " + entry.name);
}

// ---- gesture_: single-point gestures through authored poses ----

struct Gesture {
  std::string_view member;
  std::vector<Row> poses;  // passed through at equal intervals
};

const std::vector<Gesture>& gestures() {
  static const std::vector<Gesture> shapes = {
      // Reach out to the right, come back through the centre, reach left.
      {"side_reach", {{0.0, 0.0}, {0.45, 0.12}, {1.0, 0.2}, {0.85, 0.05}, {0.0, -0.12}, {-0.45, 0.1}, {-1.0, 0.18}, {-0.8, 0.02}}},
      // Cross the body low to the left, then reach high to the right.
      {"cross_reach", {{0.2, -0.1}, {-0.4, -0.45}, {-0.85, -0.6}, {-0.5, -0.3}, {0.2, 0.2}, {0.7, 0.75}, {0.95, 0.9}, {0.6, 0.4}}},
      // A deep U below the centre line, a quicker rise back over the top.
      {"low_scoop", {{-0.8, -0.1}, {-0.6, -0.6}, {-0.2, -0.95}, {0.2, -0.95}, {0.6, -0.6}, {0.8, -0.1}, {0.3, 0.15}, {-0.3, 0.15}}},
      // An arch high over the head, returning along a flat lower path.
      {"high_arc", {{-0.8, 0.0}, {-0.65, 0.55}, {-0.3, 0.95}, {0.2, 1.0}, {0.6, 0.7}, {0.8, 0.1}, {0.35, -0.2}, {-0.35, -0.2}}},
      // Four quick taps at the corners of a square, gliding between.
      {"corner_taps", {{-0.75, 0.75}, {-0.55, 0.6}, {0.75, 0.75}, {0.6, 0.55}, {0.75, -0.75}, {0.55, -0.6}, {-0.75, -0.75}, {-0.6, -0.55}}},
      // Out along the diagonal to a touch, back, and the other diagonal.
      {"diagonal_touch", {{0.0, 0.0}, {0.55, 0.45}, {0.9, 0.8}, {0.45, 0.35}, {0.0, 0.0}, {-0.5, 0.5}, {-0.85, 0.85}, {-0.4, 0.4}}},
      // Around a box, back to the centre, around again the other way.
      {"box_return", {{0.0, 0.0}, {0.7, 0.7}, {-0.7, 0.7}, {-0.7, -0.7}, {0.0, 0.0}, {0.7, -0.7}, {0.7, 0.7}, {-0.7, -0.7}}},
      // Zigzag left to right while rising, then fall back across.
      {"zigzag_lift", {{-0.8, -0.8}, {-0.4, -0.3}, {-0.6, -0.1}, {-0.1, 0.3}, {-0.3, 0.5}, {0.3, 0.95}, {0.7, 0.4}, {0.2, -0.5}}},
      // Duck down at the centre, sway right, duck, sway left.
      {"duck_sway", {{0.0, -0.85}, {0.5, -0.3}, {0.9, 0.1}, {0.5, -0.2}, {0.0, -0.85}, {-0.5, -0.3}, {-0.9, 0.1}, {-0.5, -0.2}}},
      // Push forward and low, pull back and high, with a lateral drift.
      {"push_pull", {{0.0, 0.0, 0.0}, {0.2, -0.2, 0.6}, {0.35, -0.3, 1.0}, {0.2, -0.1, 0.5}, {0.0, 0.2, -0.3}, {-0.2, 0.4, -0.9}, {-0.25, 0.3, -0.6}, {-0.1, 0.1, -0.2}}},
      // A reach straight out through depth and back, twice, the second lower.
      {"reach_depth", {{0.1, 0.2, -0.4}, {0.05, 0.25, 0.4}, {0.0, 0.2, 1.0}, {-0.1, 0.1, 0.3}, {-0.15, -0.2, -0.5}, {-0.1, -0.35, 0.2}, {0.0, -0.4, 0.8}, {0.1, -0.1, 0.0}}},
      // Bow forward and down, then turn: a horizontal circle at chest height.
      {"bow_turn", {{0.0, 0.3, 0.0}, {0.0, -0.3, 0.6}, {0.0, -0.7, 0.9}, {0.0, -0.2, 0.4}, {0.7, 0.3, 0.0}, {0.0, 0.35, -0.7}, {-0.7, 0.3, 0.0}, {0.0, 0.3, 0.5}}},
      // Heel tap back and low, roll up through the centre, toe tap forward
      // and low, lift, and the same again with a shorter reach.
      {"heel_toe", {{0.0, 0.25}, {-0.6, -0.7}, {-0.45, -0.9}, {0.0, 0.0}, {0.8, -0.75}, {0.65, -0.95}, {0.1, 0.3}, {-0.4, -0.5}, {-0.3, -0.65}, {0.05, 0.05}, {0.55, -0.55}, {0.45, -0.7}}},
      // A hop up and right, landing, and a smaller answering hop to the left.
      {"hop_answer", {{0.0, -0.5}, {0.25, 0.3}, {0.55, 0.95}, {0.8, 0.2}, {0.7, -0.55}, {0.2, -0.45}, {-0.3, 0.1}, {-0.55, 0.45}, {-0.7, -0.1}, {-0.35, -0.55}}},
      // A spiral outward in the plane while reaching forward, then back in.
      {"spiral_reach", {{0.1, 0.0, -0.6}, {0.0, 0.2, -0.4}, {-0.35, 0.0, -0.2}, {0.0, -0.5, 0.0}, {0.65, 0.0, 0.2}, {0.0, 0.8, 0.45}, {-0.85, 0.0, 0.7}, {0.0, -0.5, 0.3}}},
      // A diamond in the vertical plane whose side corners sit in depth.
      {"diamond_depth", {{0.0, 0.85, 0.0}, {0.3, 0.4, 0.35}, {0.75, 0.0, 0.7}, {0.3, -0.4, 0.35}, {0.0, -0.85, 0.0}, {-0.3, -0.4, -0.35}, {-0.75, 0.0, -0.7}, {-0.3, 0.4, -0.35}}},
  };
  return shapes;
}

Table gesture(const Entry& entry) {
  for (const Gesture& shape : gestures()) {
    if (shape.member != entry.member) continue;
    Table table(static_cast<std::size_t>(entry.period));
    for (int p = 0; p < entry.period; ++p) {
      table[p] = closed_catmull_rom(shape.poses, static_cast<double>(p) / entry.period);
    }
    scale_to_peak(table, kShapePeak);
    return table;
  }
  throw std::invalid_argument("No gesture: " + entry.name);
}

// ---- Dispatch ----

constexpr FamilyAuthor kFamilies[] = {
    {"wave", wave},   {"env", envelope},       {"seq", sequence},
    {"noise", noise}, {"polar", polar_scallop}, {"mech", mechanism}, {"gesture", gesture},
};

}  // namespace

Table author_atlas(const Entry& entry) { return draw_by_family(kFamilies, entry); }

}  // namespace movimo_gen
