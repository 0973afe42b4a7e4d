// Authored tables of the expansion pack: the low-frequency shapes and the
// path without a closed rule, and the rhythm studies of the pack.

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "authored.h"
#include "content.h"
#include "curves.h"
#include "sha256.h"
#include "shaping.h"
#include "units.h"

namespace movimo_gen {
namespace {


// ---- lfo_: low-frequency shapes ----

// A deep upward swell over the first four beats and a shallower one over
// the last four; x answers each swell a beat later with a small lean.
Table lfo_twin_swell(int period) {
  const Event swells[] = {{112, {0.0, 0.8, 0.0}, symmetric(96)},
                          {368, {0.0, 0.5, 0.0}, symmetric(88)},
                          {184, {0.3, 0.0, 0.0}, symmetric(72)},
                          {432, {-0.22, 0.0, 0.0}, symmetric(64)}};
  return render_events(period, swells);
}

// Out to a plateau, held, a smaller recoil the other way, then rest.
Table lfo_pulse_hold(int period) {
  const Key keys[] = {{0, {0.0}},    {28, {0.78}},   {112, {0.78}},
                      {148, {-0.3}}, {164, {-0.3}}, {184, {0.0}}};
  return eased_keys(period, keys);
}

// x sweeps slowly from left to right over five beats and glides back during
// the ratchets; three decaying vertical hits fill the last three beats.
Table lfo_sweep_ratchet(int period) {
  const Key sweep[] = {{0, {-0.76}}, {320, {0.76}}};
  Table table = eased_keys(period, sweep);
  const Event ratchets[] = {{352, {0.0, -0.7, 0.0}, symmetric(24)},
                            {400, {0.0, -0.48, 0.0}, symmetric(22)},
                            {448, {0.0, -0.32, 0.0}, symmetric(20)}};
  for (const Event& ratchet : ratchets) add_event(table, ratchet);
  return table;
}

// Smooth random lanes: 16 control points per lane, each from the SHA-256
// digest of "lfo_seeded_drift/<lane>/<index>" (lane "x" or "y", index
// 0..15, no terminator), its first four bytes big-endian mapped onto
// [-1, 1); a closed Catmull-Rom curve joins them.
Table lfo_seeded_drift(int period) {
  constexpr int kPoints = 16;
  std::vector<Row> points(kPoints);
  for (int i = 0; i < kPoints; ++i) {
    const std::string index = std::to_string(i);
    points[i].x = digest_unit(sha256("lfo_seeded_drift/x/" + index), 0);
    points[i].y = digest_unit(sha256("lfo_seeded_drift/y/" + index), 0);
  }
  Table table(static_cast<std::size_t>(period));
  for (int p = 0; p < period; ++p) table[p] = closed_catmull_rom(points, static_cast<double>(p) / period);
  scale_axis_to_peak(table, &Row::x, 0.78);
  scale_axis_to_peak(table, &Row::y, 0.72);
  return table;
}

// y climbs for five beats, falls back in one, then two aftershocks below
// and above the line die away before a short rest; x leans into the rise.
Table lfo_reverse_swell(int period) {
  const Key rise[] = {{0, {0.0, 0.0}}, {320, {0.32, 0.85}}, {376, {0.0, 0.0}}};
  Table table = eased_keys(period, rise);
  const Event aftershocks[] = {{400, {0.0, -0.3, 0.0}, symmetric(20)},
                               {440, {0.0, 0.16, 0.0}, symmetric(14)}};
  for (const Event& aftershock : aftershocks) add_event(table, aftershock);
  return table;
}

// ---- path_ ----

// An ellipse traversed with phase θ = t − sin t: the speed 1 − cos t falls
// to zero at the start of the loop and doubles on the opposite side.
Table path_orbit_dwell(int period) {
  Table table(static_cast<std::size_t>(period));
  for (int p = 0; p < period; ++p) {
    const double t = kTwoPi * p / period;
    const double theta = t - std::sin(t);
    table[p] = {0.8 * std::cos(theta), 0.52 * std::sin(theta), 0.0};
  }
  return table;
}

// ---- rhythm_: event studies ----

// Lateral events evenly spread alternating sides against vertical events on
// every beat, both starting positive at pip 0.
Table hits_against_beats(int period, int lateral_hits, double x_level, double half_width) {
  std::vector<Event> events;
  for (int i = 0; i < lateral_hits; ++i) {
    events.push_back({static_cast<double>(period) * i / lateral_hits, {x_level * side(i), 0.0, 0.0},
                      symmetric(half_width)});
  }
  for (int beat = 0; beat < period / kBeat; ++beat) {
    events.push_back({beat * kBeat, {0.0, 0.68 * side(beat), 0.0}, symmetric(half_width)});
  }
  return render_events(period, events);
}

Table rhythm_five_four(int period) { return hits_against_beats(period, 10, 0.72, 12); }
Table rhythm_seven_four(int period) { return hits_against_beats(period, 14, 0.78, 10); }

// E(k, 16) on sixteenth notes in the first bar, the same onsets with the
// sides swapped in the second; each bar's first onset is the accent.
Table euclid_bars(int period, int k) {
  constexpr int kSteps = 16;
  std::vector<Event> events;
  for (int bar = 0; bar < 2; ++bar) {
    for (int i = 0; i < k; ++i) {
      const int step = euclidean_step(i, k, kSteps);
      const double accent = i == 0 ? 1.0 : 0.7;
      events.push_back({bar * kBar + step * kSixteenth,
                        {0.78 * accent * side(i + bar), -0.34 * accent, 0.0}, symmetric(9)});
    }
  }
  return render_events(period, events);
}

Table rhythm_euclid_7_16(int period) { return euclid_bars(period, 7); }
Table rhythm_euclid_5_16(int period) { return euclid_bars(period, 5); }

// Swung eighths (two to one): beats one and two call on the right, beats
// three and four answer on the left; the on-beat gesture is the larger.
Table rhythm_swung_answer(int period) {
  std::vector<Event> events;
  for (int beat = 0; beat < 4; ++beat) {
    const double hand = beat < 2 ? 1.0 : -1.0;
    events.push_back({beat * kBeat, {0.74 * hand, -0.3, 0.0}, symmetric(14)});
    events.push_back({beat * kBeat + kBeat * 2.0 / 3.0, {0.46 * hand, -0.18, 0.0}, symmetric(10)});
  }
  return render_events(period, events);
}

// One event per group start on the eighth-note grid, sides alternating and
// the second bar mirrored; `levels` are each group's (x, y) in bar one.
Table grouped_bars(int period, std::span<const int> groups, std::span<const Row> levels) {
  std::vector<Event> events;
  double at = 0.0;
  for (int bar = 0; bar < 2; ++bar) {
    for (std::size_t g = 0; g < groups.size(); ++g) {
      const double lean = side(static_cast<int>(g) + bar);
      events.push_back({at, {levels[g].x * lean, levels[g].y, 0.0}, symmetric(22)});
      at += groups[g] * kEighth;
    }
  }
  return render_events(period, events);
}

Table rhythm_group_332(int period) {
  const int groups[] = {3, 3, 2};
  const Row levels[] = {{0.76, -0.38, 0.0}, {0.5472, -0.2736, 0.0}, {0.6536, -0.3268, 0.0}};
  return grouped_bars(period, groups, levels);
}

Table rhythm_group_223(int period) {
  const int groups[] = {2, 2, 3};
  const Row levels[] = {{0.74, -0.4, 0.0}, {0.518, -0.28, 0.0}, {0.629, -0.34, 0.0}};
  return grouped_bars(period, groups, levels);
}

// Three x, four y and five z events, each lane evenly spaced from pip 0.
Table rhythm_three_four_five(int period) {
  const struct {
    int count;
    Row push;
  } lanes[] = {{3, {0.7, 0.0, 0.0}}, {4, {0.0, -0.7, 0.0}}, {5, {0.0, 0.0, 0.55}}};
  std::vector<Event> events;
  for (const auto& lane : lanes) {
    for (int i = 0; i < lane.count; ++i) {
      events.push_back({static_cast<double>(period) * i / lane.count, lane.push, symmetric(16)});
    }
  }
  return render_events(period, events);
}

// ---- Dispatch ----

constexpr AuthoredTable kAuthored[] = {
    {"lfo_twin_swell", lfo_twin_swell},
    {"lfo_pulse_hold", lfo_pulse_hold},
    {"lfo_sweep_ratchet", lfo_sweep_ratchet},
    {"lfo_seeded_drift", lfo_seeded_drift},
    {"lfo_reverse_swell", lfo_reverse_swell},
    {"path_orbit_dwell", path_orbit_dwell},
    {"rhythm_five_four", rhythm_five_four},
    {"rhythm_seven_four", rhythm_seven_four},
    {"rhythm_euclid_7_16", rhythm_euclid_7_16},
    {"rhythm_euclid_5_16", rhythm_euclid_5_16},
    {"rhythm_swung_answer", rhythm_swung_answer},
    {"rhythm_group_332", rhythm_group_332},
    {"rhythm_group_223", rhythm_group_223},
    {"rhythm_three_four_five", rhythm_three_four_five},
};

}  // namespace

Table author_expansion(const Entry& entry) { return authored_table(kAuthored, entry); }

}  // namespace movimo_gen
