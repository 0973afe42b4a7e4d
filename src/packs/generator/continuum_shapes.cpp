// Continuum families drawn as closed curves of the loop angle: ribbons,
// signed-power contours, harmonic silhouettes, surface paths, braids and a
// two-link arm.

#include <array>
#include <cmath>
#include <cstddef>

#include "continuum.h"

namespace movimo_gen::continuum {
namespace {

double signed_power(double value, double exponent) {
  return std::copysign(std::pow(std::fabs(value), exponent), value);
}

// 1 at angle `centre`, falling smoothly to 0 half a turn away.
double local_window(double t, double centre) {
  const double w = (1.0 + std::cos(t - centre)) / 2.0;
  return w * w * w;
}

}  // namespace

// A bowed elliptical spine; the ribbon's edge twists b times around it while
// its width swells a times, and the edge's depth follows the same twist.
Table ribbon(const Entry& entry) {
  const std::vector<int> n = member_numbers(entry.member);
  const bool deep = entry.member.ends_with("deep");
  const double width = deep ? 0.16 : 0.09;
  const double depth = deep ? 0.62 : 0.24;
  return trace_path(entry, [&](double t) {
    const double twist = n[1] * t + 0.4;
    const double swell = 0.45 + 0.55 * std::cos(n[0] * t);
    const double radius = 1.0 + width * swell * std::sin(twist);
    return Row{radius * std::cos(t), radius * (0.62 * std::sin(t) + 0.12 * std::sin(2.0 * t)),
               depth * swell * std::cos(twist)};
  });
}

namespace {

// A signed-power oval: exponents below 1 square the edges, above 1 pinch
// them; a patch of ripples sits around one angle and the bow bends the oval
// unevenly.
struct ContourShape {
  double exponent;
  double aspect;      // height over width
  int ripples;        // ripple count around the full turn
  double ripple;      // ripple depth
  double ripple_at;   // angle the ripples centre on
  double bow;         // bend of the vertical axis by the horizontal position
  double depth;       // depth swing (3-axis members)
};

constexpr std::array<ContourShape, 16> kContours{{
    {0.55, 0.70, 7, 0.10, 0.6, 0.22, 0.0},   {0.70, 0.85, 9, 0.08, 2.2, -0.18, 0.0},
    {0.85, 0.62, 5, 0.12, 4.0, 0.30, 0.0},   {1.25, 0.78, 11, 0.06, 1.3, 0.12, 0.0},
    {1.50, 0.90, 6, 0.09, 5.1, -0.26, 0.0},  {0.62, 0.55, 13, 0.05, 3.1, 0.16, 0.0},
    {1.10, 0.72, 8, 0.13, 0.2, -0.34, 0.0},  {0.78, 0.95, 10, 0.07, 2.8, 0.25, 0.0},
    {0.60, 0.74, 7, 0.09, 1.0, 0.20, 0.42},  {0.90, 0.66, 12, 0.06, 3.6, -0.22, 0.55},
    {1.35, 0.82, 5, 0.11, 5.6, 0.28, 0.36},  {0.72, 0.58, 9, 0.10, 2.0, -0.14, 0.60},
    {1.20, 0.92, 6, 0.08, 4.4, 0.18, 0.48},  {0.66, 0.80, 11, 0.07, 0.7, -0.30, 0.66},
    {1.05, 0.68, 8, 0.12, 2.6, 0.24, 0.30},  {0.82, 0.86, 14, 0.05, 4.9, -0.20, 0.52},
}};

}  // namespace

Table contour(const Entry& entry) {
  const ContourShape& c = kContours.at(member_index(entry.member));
  return trace_path(entry, [&](double loop_angle) {
    // Start away from the steep zero crossings of the signed powers.
    const double t = loop_angle + 0.9;
    const double patch = local_window(t, c.ripple_at);
    const double radius = 1.0 + c.ripple * patch * std::sin(c.ripples * t);
    const double x = radius * signed_power(std::cos(t), c.exponent);
    const double y = c.aspect * radius * signed_power(std::sin(t), c.exponent) +
                     c.bow * (x * x + 0.35 * x - 0.4);
    const double z = 0.7 * std::sin(t + c.ripple_at) + 0.3 * patch * std::cos(c.ripples * t);
    return Row{x, y, c.depth * z};
  });
}

namespace {

// The fundamental plus two harmonics of unequal weight; y takes the same
// harmonics with a cross-axis phase, and depth follows the first harmonic.
struct Silhouette {
  int second;
  double second_weight;
  int third;
  double third_weight;
  double phase;
  double cross;  // extra phase of the harmonics on y
  double depth;
};

constexpr std::array<Silhouette, 16> kSilhouettes{{
    {2, 0.30, 3, 0.12, 0.3, 0.9, 0.20},  {2, 0.22, 5, 0.10, 1.1, 1.6, 0.26},
    {3, 0.28, 4, 0.09, 0.0, 0.5, 0.18},  {3, 0.18, 5, 0.14, 2.0, 1.2, 0.30},
    {2, 0.34, 4, 0.08, 0.7, 2.4, 0.22},  {4, 0.20, 7, 0.07, 1.4, 0.8, 0.34},
    {3, 0.24, 7, 0.10, 2.6, 1.9, 0.16},  {2, 0.26, 6, 0.12, 0.5, 2.9, 0.28},
    {5, 0.16, 8, 0.08, 1.8, 1.1, 0.24},  {4, 0.26, 5, 0.11, 0.9, 0.4, 0.32},
    {2, 0.38, 7, 0.06, 2.2, 1.4, 0.20},  {3, 0.32, 8, 0.07, 0.2, 2.1, 0.36},
    {5, 0.22, 6, 0.12, 1.2, 2.7, 0.18},  {4, 0.14, 9, 0.10, 2.9, 0.6, 0.26},
    {6, 0.18, 7, 0.09, 0.8, 1.7, 0.30},  {3, 0.20, 10, 0.06, 1.6, 2.3, 0.22},
}};

}  // namespace

Table silhouette(const Entry& entry) {
  const Silhouette& s = kSilhouettes.at(member_index(entry.member));
  return trace_path(entry, [&](double t) {
    const double second = s.second * t + s.phase;
    const double third = s.third * t - s.phase;
    return Row{std::cos(t) + s.second_weight * std::cos(second) + s.third_weight * std::cos(third),
               0.76 * std::sin(t) - s.second_weight * std::sin(second + s.cross) +
                   s.third_weight * std::sin(third + s.cross),
               s.depth * std::sin(second + 0.5 * s.cross)};
  });
}

// A point on a swelling sphere: longitude turns a times, latitude swings b
// times, each nudging the other; the low members stay near the equator, the
// wide ones climb towards the poles.
Table surface(const Entry& entry) {
  const std::vector<int> n = member_numbers(entry.member);
  const double latitude_range = entry.member.ends_with("wide") ? 0.78 : 0.34;
  return trace_path(entry, [&](double t) {
    const double longitude = n[0] * t + 0.25 * std::sin(n[1] * t);
    const double latitude = latitude_range * std::sin(n[1] * t + 0.5 + 0.3 * std::sin(n[0] * t));
    const double radius = 1.0 + 0.12 * std::cos(2.0 * longitude + latitude);
    const double across = radius * std::cos(latitude);
    return Row{across * std::cos(longitude), 0.95 * radius * std::sin(latitude),
               0.62 * across * std::sin(longitude)};
  });
}

// A strand rolling b times around an off-centre elliptical tube that loops a
// times, with a second, faster ripple in depth.
Table braid(const Entry& entry) {
  const std::vector<int> n = member_numbers(entry.member);
  constexpr double kTube = 0.3;
  return trace_path(entry, [&](double t) {
    const double along = n[0] * t + 0.2;
    const double dx = -std::sin(along);
    const double dy = 0.6 * std::cos(along);
    const double length = std::hypot(dx, dy);
    const double roll = n[1] * t;
    const double offset = kTube * std::cos(roll) / length;  // along the in-plane normal
    return Row{std::cos(along) + 0.08 - offset * dy, 0.6 * std::sin(along) - 0.05 + offset * dx,
               0.42 * std::sin(roll) + 0.12 * std::sin((n[0] + 2 * n[1]) * t + 0.9)};
  });
}

namespace {

// Two links hanging from a shoulder above the centre. Angles are measured
// from straight down; each joint swings about its base angle, the elbow
// relative to the upper link; 3-axis members also turn the arm's plane.
struct ArmDrive {
  double upper;  // link lengths
  double lower;
  double shoulder_base;
  double shoulder_swing;
  int shoulder_rate;  // swings per loop
  double elbow_base;
  double elbow_swing;
  int elbow_rate;
  double elbow_phase;
  double turn;  // swing of the arm's plane about the vertical
};

constexpr double kShoulderHeight = 0.07;

constexpr std::array<ArmDrive, 16> kArms{{
    {0.55, 0.45, 0.00, 0.95, 1, 0.30, 0.60, 2, 0.0, 0.0},
    {0.60, 0.40, 0.10, 0.80, 1, -0.20, 0.90, 3, 0.8, 0.0},
    {0.50, 0.50, -0.15, 1.05, 1, 0.45, 0.50, 1, 1.6, 0.0},
    {0.45, 0.55, 0.05, 0.70, 2, 0.10, 1.00, 1, 0.4, 0.0},
    {0.58, 0.42, 0.00, 1.15, 1, 0.00, 0.70, 2, 2.2, 0.0},
    {0.52, 0.48, 0.20, 0.75, 1, -0.40, 0.80, 3, 1.0, 0.0},
    {0.62, 0.38, -0.05, 0.90, 1, 0.60, 0.45, 4, 0.3, 0.0},
    {0.48, 0.52, 0.00, 0.85, 2, 0.25, 0.95, 1, 2.8, 0.0},
    {0.55, 0.45, 0.05, 0.90, 1, 0.20, 0.70, 2, 0.6, 0.70},
    {0.60, 0.40, -0.10, 1.00, 1, -0.30, 0.60, 3, 1.2, 0.55},
    {0.50, 0.50, 0.15, 0.80, 1, 0.40, 0.85, 1, 2.0, 0.85},
    {0.45, 0.55, 0.00, 0.75, 2, 0.15, 0.90, 2, 0.2, 0.60},
    {0.58, 0.42, -0.20, 1.10, 1, 0.00, 0.55, 3, 1.5, 0.75},
    {0.52, 0.48, 0.10, 0.85, 1, -0.45, 0.75, 2, 2.6, 0.65},
    {0.62, 0.38, 0.00, 0.95, 1, 0.50, 0.65, 4, 0.9, 0.90},
    {0.48, 0.52, 0.25, 0.70, 2, 0.30, 1.05, 1, 1.8, 0.50},
}};

}  // namespace

Table arm(const Entry& entry) {
  const ArmDrive& a = kArms.at(member_index(entry.member));
  return trace_path(entry, [&](double t) {
    const double shoulder = a.shoulder_base + a.shoulder_swing * std::sin(a.shoulder_rate * t);
    const double elbow =
        shoulder + a.elbow_base + a.elbow_swing * std::sin(a.elbow_rate * t + a.elbow_phase);
    const double reach = a.upper * std::sin(shoulder) + a.lower * std::sin(elbow);
    const double height =
        kShoulderHeight - a.upper * std::cos(shoulder) - a.lower * std::cos(elbow);
    const double plane = a.turn * std::sin(t + a.elbow_phase);
    return Row{reach * std::cos(plane), height, reach * std::sin(plane)};
  });
}

}  // namespace movimo_gen::continuum
