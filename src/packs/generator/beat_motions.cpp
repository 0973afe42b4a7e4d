// The sixteen motions of the beat_ patterns. Every onset of a score excites
// a response whose rise and fall depend on its lane; the event motions add
// those responses up, the never-resting motions let them steer a continuous
// path (its speed, radius or depth) and the spring rings after each onset.
// Per-lane contributions are data; a motion's function only combines them.

#include "beat_motions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <utility>
#include <vector>

#include "shaping.h"
#include "units.h"

namespace movimo_gen {
namespace {

// How long each lane's response rises before its onset and falls after it.
using LaneResponses = std::array<Response, kLaneCount>;
constexpr LaneResponses kLaneResponse = {{
    {6.4, 29.44},   // kick: up over a tenth of a beat, down over 0.46 of a beat
    {6.4, 23.04},   // snare: down over 0.36 of a beat
    {5.76, 17.92},  // hat: up over 0.09 of a beat, down over 0.28
    {6.4, 25.6},    // tom: down over 0.4 of a beat
    {7.68, 35.84},  // bass: up over 0.12 of a beat, down over 0.56
}};

// Per lane, in lane order: kick, snare, hat, tom, bass.
using LaneRows = std::array<Row, kLaneCount>;
using LaneWeights = std::array<double, kLaneCount>;

// Every second onset of a lane answers on the other side.
constexpr Row kSwapSides{-1.0, 1.0, 1.0};
constexpr Row kSameSide{1.0, 1.0, 1.0};

Row times(Row a, Row b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }
Row scaled(Row a, double k) { return {a.x * k, a.y * k, a.z * k}; }
bool is_zero(Row a) { return a.x == 0.0 && a.y == 0.0 && a.z == 0.0; }

int lane_index(const Onset& onset) { return static_cast<int>(onset.lane); }
double bars(const Score& score) { return score.period / kBar; }
double loop_angle(std::size_t p, const Score& score) { return kTwoPi * static_cast<double>(p) / score.period; }

// One response per onset: its lane's row times its velocity, with the axes
// of `odd_turn` multiplied in on every second onset of the lane, `delay`
// pips after the onset.
Table lane_events(const Score& score, const LaneRows& push, Row odd_turn = kSwapSides,
                  double delay = 0.0, const LaneResponses& responses = kLaneResponse) {
  Table table(static_cast<std::size_t>(score.period));
  for (const Onset& onset : score.onsets) {
    Row row = scaled(push[lane_index(onset)], onset.velocity);
    if (onset.turn % 2 == 1) row = times(row, odd_turn);
    if (is_zero(row)) continue;
    add_event(table, {onset.pip + delay, row, responses[lane_index(onset)]});
  }
  return table;
}

// How busy the weighted lanes are at each row: the sum of their responses.
std::vector<double> activity(const Score& score, const LaneWeights& weight) {
  LaneRows push{};
  for (int lane = 0; lane < kLaneCount; ++lane) push[lane] = {weight[lane], 0.0, 0.0};
  const Table events = lane_events(score, push, kSameSide);
  std::vector<double> level(events.size());
  for (std::size_t p = 0; p < events.size(); ++p) level[p] = events[p].x;
  return level;
}

// An angle that turns `turns` times per period at speed 1 + sway·activity:
// integrated over the rows and normalised, so the last row leads back into
// row 0 exactly.
std::vector<double> rhythm_phase(const Score& score, const LaneWeights& weight, double sway,
                                 double turns) {
  const std::vector<double> level = activity(score, weight);
  std::vector<double> phase(level.size());
  double travelled = 0.0;
  for (std::size_t p = 0; p < level.size(); ++p) {
    phase[p] = travelled;
    travelled += 1.0 + sway * level[p];
  }
  for (double& angle : phase) angle = kTwoPi * turns * angle / travelled;
  return phase;
}

void add_rows(Table& table, const Table& more) {
  for (std::size_t p = 0; p < table.size(); ++p) {
    table[p] = {table[p].x + more[p].x, table[p].y + more[p].y, table[p].z + more[p].z};
  }
}

MotionParts shaped_only(Table shaped) {
  return {Table(shaped.size()), std::move(shaped)};
}

// Lane weights of activity(), in lane order kick, snare, hat, tom, bass.
// Every lane, the kick most and the hats least: a hat line, the busiest,
// should not outweigh the kick.
constexpr LaneWeights kEveryLane{1.0, 0.8, 0.5, 0.6, 0.7};
// The drums that carry the groove in full; toms and bass at half, hats out.
constexpr LaneWeights kDrums{1.0, 1.0, 0.0, 0.5, 0.5};
constexpr LaneWeights kKickSnare{1.0, 1.0, 0.0, 0.0, 0.0};
constexpr LaneWeights kKick{1.0, 0.0, 0.0, 0.0, 0.0};

// ---- event motions: responses added up, at rest between them ---------------

struct Voices {
  LaneRows fixed;   // absolute contributions
  LaneRows shaped;  // contributions in units of the motion's gains
  const LaneResponses* responses = &kLaneResponse;
};

MotionParts voiced(const Score& score, const Voices& voices) {
  return {lane_events(score, voices.fixed, kSwapSides, 0.0, *voices.responses),
          lane_events(score, voices.shaped, kSwapSides, 0.0, *voices.responses)};
}

// The bounce and the step feel the bass on its attack only, as briefly as a
// hat, so that the rests between their hits stay.
constexpr LaneResponses kAttackOnly = {{kLaneResponse[0], kLaneResponse[1], kLaneResponse[2],
                                        kLaneResponse[3], kLaneResponse[2]}};

// The kick lifts y by 0.55 and leans forward, claps and snares swing x to
// alternate sides and lean back, hats dip y a little, toms add side and
// lift; the bass lifts.
constexpr Voices kBounce{
    .fixed = {{{0.0, 0.55, 0.0}, {0.243, 0.0, 0.0}, {0.0, -0.02232, 0.0}, {}, {}}},
    .shaped = {{{0.0, 0.0, 1.0}, {0.0, 0.0, -0.5}, {0.0, 0.0, -0.4}, {1.0, 0.3, 0.3}, {0.0, 0.5, 0.0}}},
    .responses = &kAttackOnly,
};

// Kicks step to alternate sides and down; snares answer with a wider step,
// down too; hats lift between the steps and the bass shifts the weight.
constexpr Voices kStep{
    .fixed = {{{0.42, -0.22, 0.0}, {}, {}, {}, {}}},
    .shaped = {{{0.0, 0.0, 0.6}, {0.0, -0.4, 0.5}, {0.3, 0.3, 0.15}, {0.7, 0.2, 0.4}, {0.5, 0.4, 0.4}}},
    .responses = &kAttackOnly,
};
// The snare's side step, 0.43 at full velocity. A backbeat steps right on
// beat two and left on beat four; any other snare steps away from the side
// the last kick took, so the kick lane's alternation never doubles it, and
// one landing with a kick leaves the step to the kick.
constexpr double kSnareStep = 0.43;
constexpr double kBeatTwo = kBeat;
constexpr double kBeatFour = 3 * kBeat;

struct KickStep {
  double pip;
  double side;
};

double snare_side(double pip, KickStep last_kick) {
  const double place = std::fmod(pip, kBar);
  if (place == kBeatTwo) return 1.0;
  if (place == kBeatFour) return -1.0;
  return pip == last_kick.pip ? 0.0 : -last_kick.side;
}

// The side of the kick lane's last onset in the loop, where its first
// snare looks back to.
double closing_kick_side(const Score& score) {
  int kicks = 0;
  for (const Onset& onset : score.onsets) kicks += onset.lane == Lane::kick ? 1 : 0;
  return kicks % 2 == 0 ? -1.0 : 1.0;
}

Table snare_steps(const Score& score) {
  Table table(static_cast<std::size_t>(score.period));
  KickStep kick{-1.0, closing_kick_side(score)};
  for (const Onset& onset : score.onsets) {
    if (onset.lane == Lane::kick) kick = {onset.pip, onset.turn % 2 == 0 ? 1.0 : -1.0};
    if (onset.lane != Lane::snare) continue;
    const double side = snare_side(onset.pip, kick);
    add_event(table, {onset.pip, {side * kSnareStep * onset.velocity, 0.0, 0.0},
                      kLaneResponse[lane_index(onset)]});
  }
  return table;
}

MotionParts step(const Score& score) {
  MotionParts parts = voiced(score, kStep);
  add_rows(parts.fixed, snare_steps(score));
  return parts;
}

// The kick thrusts through depth by 0.506; snares lift, hats add detail.
constexpr Voices kSurge{
    .fixed = {{{0.0, 0.0, 0.506}, {}, {}, {}, {}}},
    .shaped = {{{0.3, -0.3, 0.0}, {0.0, 1.0, 0.3}, {0.25, 0.1, 0.15}, {0.4, 0.4, 0.5},
                {0.0, -0.2, 0.8}}},
};

// Snares push sideways, the kick counters on y by 0.257.
constexpr Voices kRecoil{
    .fixed = {{{0.0, 0.257, 0.0}, {}, {}, {}, {}}},
    .shaped = {{{0.2, 0.0, 0.0}, {1.0, 0.2, 0.0}, {0.3, 0.15, 0.0}, {0.5, 0.3, 0.0},
                {0.3, 0.5, 0.0}}},
};
// Each kick and snare echoes three eighths of a beat later, drawing back in depth.
constexpr double kEchoDelay = 24.0;
constexpr LaneRows kRecoilEcho = {{{0.0, 0.0, -1.0}, {0.0, 0.0, -0.8}, {}, {}, {}}};

MotionParts recoil(const Score& score) {
  MotionParts parts = voiced(score, kRecoil);
  add_rows(parts.shaped, lane_events(score, kRecoilEcho, kSwapSides, kEchoDelay));
  return parts;
}

// ---- the causal spring --------------------------------------------------------

// A damped ring e^(−d/τ)·sin(ωd) of period kRingPeriod whose damping puts its
// peak a lane's kSpringPeak pips after the onset (where tan(ωd) = ωτ): five
// for the drums, three for the snappier bass. It fades out over its last
// kSpringFade pips and is gone kSpringLength pips after the onset, so a kick
// on every beat leaves the spring at rest just before the next. The period
// puts the ring's zero crossings between rows, so it rests only once it is gone.
constexpr double kRingPeriod = 28.8;
constexpr std::array<double, kLaneCount> kSpringPeak = {5.0, 5.0, 5.0, 5.0, 3.0};
constexpr double kSpringLength = 60.0;
constexpr double kSpringFade = 20.0;

double spring_ring(double d, double peak) {
  const double omega = kTwoPi / kRingPeriod;
  const double tau = std::tan(omega * peak) / omega;
  return std::exp(-d / tau) * std::sin(omega * d);
}

// The ring d pips after its onset, 1 at its peak.
double spring_response(double d, double peak) {
  if (d < 0.0 || d >= kSpringLength) return 0.0;
  const double fade_start = kSpringLength - kSpringFade;
  const double fade = d <= fade_start ? 1.0 : (1.0 + std::cos(kPi * (d - fade_start) / kSpringFade)) / 2.0;
  return fade * spring_ring(d, peak) / spring_ring(peak, peak);
}

// How long after its onset a ring has settled: its swing within a tenth of
// its peak (the envelope e^(−d/τ) down to a tenth of the ring's peak value).
double spring_settle(double peak) {
  const double omega = kTwoPi / kRingPeriod;
  const double tau = std::tan(omega * peak) / omega;
  return std::fmin(kSpringLength, tau * std::log(10.0 / spring_ring(peak, peak)));
}

// Kick, snare and bass landing together throw the spring deepest; the
// bass's depth sets how steep that throw is: the bassline hook's, the
// steepest step of any table, is 0.2677.
constexpr LaneRows kSpring = {{{0.5, 0.4, 0.3}, {1.0, 0.3, 0.6}, {0.1, 0.1, 0.1},
                               {0.6, -0.4, 0.3}, {0.2, -0.3, 0.2592}}};

// The onsets that land together, as one strike of the spring.
struct Strike {
  double pip;
  double strength = 0.0;  // the length of its push
  double settle = 0.0;    // when its slowest ring has settled
};

double loop_distance(double from, double to, double period) { return std::fmod(to - from + period, period); }

// The pips whose strikes ring: strongest first, each only where the rings
// around it have settled before it starts and it settles before the next,
// so dense onsets ring the spring on their accents and the rest pass by.
std::vector<double> ringing_pips(const Score& score) {
  std::vector<Strike> strikes;
  for (const Onset& onset : score.onsets) {
    if (strikes.empty() || strikes.back().pip != onset.pip) strikes.push_back({onset.pip});
    const Row push = scaled(kSpring[lane_index(onset)], onset.velocity);
    strikes.back().strength += std::sqrt(push.x * push.x + push.y * push.y + push.z * push.z);
    strikes.back().settle = std::fmax(strikes.back().settle, spring_settle(kSpringPeak[lane_index(onset)]));
  }
  std::stable_sort(strikes.begin(), strikes.end(),
                   [](const Strike& a, const Strike& b) { return a.strength > b.strength; });
  std::vector<Strike> ringing;
  for (const Strike& strike : strikes) {
    const bool clear = std::all_of(ringing.begin(), ringing.end(), [&](const Strike& other) {
      return loop_distance(other.pip, strike.pip, score.period) >= other.settle &&
             loop_distance(strike.pip, other.pip, score.period) >= strike.settle;
    });
    if (clear) ringing.push_back(strike);
  }
  std::vector<double> pips;
  for (const Strike& strike : ringing) pips.push_back(strike.pip);
  std::sort(pips.begin(), pips.end());
  return pips;
}

MotionParts spring(const Score& score) {
  Table table(static_cast<std::size_t>(score.period));
  const std::vector<double> ringing = ringing_pips(score);
  for (const Onset& onset : score.onsets) {
    if (!std::binary_search(ringing.begin(), ringing.end(), onset.pip)) continue;
    const int lane = lane_index(onset);
    Row push = scaled(kSpring[lane], onset.velocity);
    if (onset.turn % 2 == 1) push = times(push, kSwapSides);
    // Rows from the onset on, until the ring has died away.
    for (double p = std::ceil(onset.pip); p < onset.pip + kSpringLength; p += 1.0) {
      const double w = spring_response(p - onset.pip, kSpringPeak[lane]);
      Row& row = table[static_cast<std::size_t>(p) % table.size()];
      row = {row.x + w * push.x, row.y + w * push.y, row.z + w * push.z};
    }
  }
  return shaped_only(std::move(table));
}

// ---- never-resting motions -------------------------------------------------

// The numbers inside a path set its proportions only (axis against axis,
// a lane against the resting path): each axis of the shaped part is scaled
// by the motion's gain afterwards.

// Event-weighted speed around the circle, drums widen it, hats and toms add depth.
constexpr LaneWeights kOrbitDepth{0.4, 0.3, 1.0, 0.8, 0.3};

MotionParts orbit(const Score& score) {
  const std::vector<double> spin = rhythm_phase(score, kEveryLane, 4.5, bars(score));
  const std::vector<double> swell = activity(score, kDrums);
  const std::vector<double> depth = activity(score, kOrbitDepth);
  Table table(spin.size());
  for (std::size_t p = 0; p < table.size(); ++p) {
    const double radius = 1.0 + 1.5 * swell[p];
    table[p] = {radius * std::cos(spin[p]), radius * std::sin(spin[p]), depth[p]};
  }
  return shaped_only(std::move(table));
}

// A phrase-long closed path; bass onsets pull it down and forward, the
// drums nudge it.
constexpr LaneRows kGlideExcursion = {{{0.15, -0.2, 0.2}, {0.1, 0.25, 0.0}, {0.15, 0.2, 0.15},
                                       {0.2, 0.2, 0.3}, {0.5, -0.7, 0.8}}};

MotionParts glide(const Score& score) {
  Table table = lane_events(score, kGlideExcursion);
  for (std::size_t p = 0; p < table.size(); ++p) {
    const double t = loop_angle(p, score);
    table[p] = {table[p].x + std::sin(t), table[p].y + 0.5 * std::sin(2.0 * t),
                table[p].z + 0.6 * std::cos(t)};
  }
  return shaped_only(std::move(table));
}

// A wide arc paced by kick and snare; hats shake y and z in alternating directions.
constexpr LaneWeights kFlutterPace{1.0, 1.0, 0.0, 0.3, 0.3};
constexpr LaneRows kFlutterTremor = {{{}, {}, {0.0, 0.6, 0.5}, {}, {}}};

MotionParts flutter(const Score& score) {
  const std::vector<double> arc = rhythm_phase(score, kFlutterPace, 4.0, bars(score));
  Table table = lane_events(score, kFlutterTremor, {1.0, -1.0, -1.0});
  for (std::size_t p = 0; p < table.size(); ++p) {
    table[p] = {std::sin(arc[p]), table[p].y + 0.4 * std::cos(2.0 * arc[p]),
                table[p].z + 0.3 * std::cos(arc[p])};
  }
  return shaped_only(std::move(table));
}

// The bass, or where a genre has none its lowest voice: the toms, else the kick.
Lane lowest_voice(const Score& score) {
  bool toms = false;
  for (const Onset& onset : score.onsets) {
    if (onset.lane == Lane::bass) return Lane::bass;
    toms = toms || onset.lane == Lane::tom;
  }
  return toms ? Lane::tom : Lane::kick;
}

// The lowest voice deepens a plunge that never surfaces; drums sway to
// alternate sides.
constexpr LaneWeights kDiveDepth{0.4, 0.0, 0.0, 0.3, 1.0};
constexpr LaneRows kDiveCounter = {{{1.0, -0.2, 0.0}, {1.0, 0.3, 0.0}, {0.3, 0.15, 0.0},
                                    {0.6, 0.2, 0.0}, {}}};

MotionParts dive(const Score& score) {
  LaneWeights deepening = kDiveDepth;
  deepening[static_cast<int>(lowest_voice(score))] = kDiveDepth[static_cast<int>(Lane::bass)];
  const std::vector<double> depth = activity(score, deepening);
  Table table = lane_events(score, kDiveCounter);
  for (std::size_t p = 0; p < table.size(); ++p) {
    const double t = loop_angle(p, score);
    // 0.35 deep at the downbeat, 0.3 deeper half way round the loop.
    const double plunge = 0.35 + 0.15 * (1.0 - std::cos(t)) + depth[p];
    table[p] = {table[p].x, table[p].y - 0.3 * depth[p], -plunge};
  }
  return shaped_only(std::move(table));
}

// Two swings a bar; the drums widen the swing, every lane quickens it.
MotionParts pendulum(const Score& score) {
  const std::vector<double> swing = rhythm_phase(score, kEveryLane, 3.5, 2.0 * bars(score));
  const std::vector<double> reach = activity(score, kDrums);
  Table table(swing.size());
  for (std::size_t p = 0; p < table.size(); ++p) {
    // The loop starts at the end of a swing, where the weight moves slowest.
    // It swings 0.7 rad either side at rest, up to 1.1 rad with the drums.
    const double angle = (0.7 + 0.4 * reach[p]) * std::cos(swing[p]);
    table[p] = {std::sin(angle), 1.0 - std::cos(angle), 0.5 * std::sin(swing[p])};
  }
  return shaped_only(std::move(table));
}

// One figure eight a bar; kicks widen the lobes, snares and hats lift the
// crossing, the bass pulls it down.
constexpr LaneRows kFigureLift = {{{}, {0.0, 1.0, 0.3}, {0.0, 0.5, 0.3}, {}, {0.0, -0.6, 0.4}}};

MotionParts figure8(const Score& score) {
  const std::vector<double> turn = rhythm_phase(score, kEveryLane, 2.0, bars(score));
  const std::vector<double> width = activity(score, kKick);
  Table table = lane_events(score, kFigureLift, kSameSide);
  for (std::size_t p = 0; p < table.size(); ++p) {
    const double radius = 1.0 + 1.2 * width[p];
    table[p] = {radius * std::sin(turn[p]),
                table[p].y + radius * std::sin(turn[p]) * std::cos(turn[p]),
                table[p].z + 0.4 * std::cos(turn[p])};
  }
  return shaped_only(std::move(table));
}

// One tour of a rounded square a bar, paced by every lane; the drums add
// depth, the kick most.
constexpr double kCornerSharpness = 2.5;
constexpr LaneWeights kBoxDepth{1.0, 0.6, 0.2, 0.5, 0.5};

MotionParts box(const Score& score) {
  const std::vector<double> tour = rhythm_phase(score, kEveryLane, 10.0, bars(score));
  const std::vector<double> depth = activity(score, kBoxDepth);
  const double edge = std::tanh(kCornerSharpness);
  Table table(tour.size());
  for (std::size_t p = 0; p < table.size(); ++p) {
    const double heading = tour[p] + kPi / 4.0;  // the loop starts in a corner, where it moves slowest
    table[p] = {std::tanh(kCornerSharpness * std::cos(heading)) / edge,
                std::tanh(kCornerSharpness * std::sin(heading)) / edge, depth[p]};
  }
  return shaped_only(std::move(table));
}

// Two turns per loop over one depth wave. The kick hurries the turns on;
// snares, hats, toms and the bass draw the coil in, so a bare kick turns
// widest. The sway puts the bare pulse's join (its kick falls on row 0) at 0.053.
constexpr double kCorkscrewSway = 2.06;
constexpr LaneWeights kPercussion{0.0, 1.0, 0.6, 0.8, 0.6};

MotionParts corkscrew(const Score& score) {
  const std::vector<double> turn = rhythm_phase(score, kKick, kCorkscrewSway, 2.0);
  const std::vector<double> percussion = activity(score, kPercussion);
  Table table(turn.size());
  for (std::size_t p = 0; p < table.size(); ++p) {
    const double radius = 1.0 / (1.0 + 3.0 * percussion[p]);
    table[p] = {radius * std::cos(turn[p]), radius * std::sin(turn[p]),
                std::sin(loop_angle(p, score))};
  }
  return shaped_only(std::move(table));
}

// Two turns whose radius breathes in and out once per loop.
constexpr LaneWeights kHatsToms{0.0, 0.0, 1.0, 1.0, 0.0};

MotionParts spiral(const Score& score) {
  const std::vector<double> turn = rhythm_phase(score, kEveryLane, 4.0, 2.0);
  const std::vector<double> swell = activity(score, kKickSnare);
  const std::vector<double> shimmer = activity(score, kHatsToms);
  Table table(turn.size());
  for (std::size_t p = 0; p < table.size(); ++p) {
    const double t = loop_angle(p, score);
    // From 0.3 at the downbeat out to 1 half way round; kick and snare push it out.
    const double radius = 0.3 + 0.7 * (1.0 - std::cos(t)) / 2.0 + 0.7 * swell[p];
    table[p] = {radius * std::cos(turn[p]), radius * std::sin(turn[p]),
                0.6 * std::cos(t) + 0.3 * shimmer[p]};
  }
  return shaped_only(std::move(table));
}

// One S a bar; kicks lift, snares cut back, hats flick, the bass pulls down
// and forward; depth runs against the sides.
constexpr LaneRows kSlalomAccents = {{{0.0, 1.0, 0.0}, {-0.5, 0.0, 0.3}, {0.15, 0.1, 0.1}, {0.3, 0.4, 0.0},
                                     {0.0, -0.4, 0.3}}};

MotionParts slalom(const Score& score) {
  const std::vector<double> course = rhythm_phase(score, kEveryLane, 5.0, bars(score));
  Table table = lane_events(score, kSlalomAccents);
  for (std::size_t p = 0; p < table.size(); ++p) {
    const double side = std::sin(course[p]);
    table[p] = {table[p].x + side, table[p].y + 0.15, table[p].z - 0.6 * side};
  }
  return shaped_only(std::move(table));
}

// Every onset flies out toward one of five targets over a slow drift. The
// target follows the onset's eighth of the bar, turned on by its voice, so
// a kick and a snare on one beat fly apart and the same groove always
// throws the same way. The downbeat kick flies to the nearest target: the
// loop joins gently.
constexpr Row kRicochetTargets[] = {{0.55, 0.6, 0.35}, {-1.0, 0.2, 0.45}, {-0.4, -1.0, -0.5},
                                    {0.9, -0.45, 0.6}, {0.1, 1.0, -0.8}};
constexpr LaneWeights kRicochetWeight{1.0, 0.9, 0.3, 0.8, 0.7};
constexpr std::array<int, kLaneCount> kRicochetTurn = {0, 2, 1, 3, 4};

const Row& ricochet_target(const Onset& onset) {
  const int eighth = static_cast<int>(std::fmod(onset.pip, kBar) / kEighth);
  const int turn = kRicochetTurn[lane_index(onset)];
  return kRicochetTargets[static_cast<std::size_t>(eighth + turn) % std::size(kRicochetTargets)];
}

MotionParts ricochet(const Score& score) {
  Table table(static_cast<std::size_t>(score.period));
  for (const Onset& onset : score.onsets) {
    const double weight = kRicochetWeight[lane_index(onset)] * onset.velocity;
    add_event(table, {onset.pip, scaled(ricochet_target(onset), weight), kLaneResponse[lane_index(onset)]});
  }
  for (std::size_t p = 0; p < table.size(); ++p) {
    const double t = loop_angle(p, score);
    table[p] = {table[p].x + 0.15 * std::cos(t), table[p].y + 0.15 * std::sin(t),
                table[p].z + 0.075 * std::sin(2.0 * t)};
  }
  return shaped_only(std::move(table));
}

constexpr Motion kMotions[] = {
    {"bounce", {0.2975, 0.6825, 0.068}, [](const Score& s) { return voiced(s, kBounce); }},
    {"step", {0.7464, 0.3611, 0.1813}, step},
    {"orbit", {0.6198, 0.614, 0.216}, orbit},
    {"glide", {0.7, 0.4929, 0.4848}, glide},
    {"surge", {0.2124, 0.3618, 0.6795}, [](const Score& s) { return voiced(s, kSurge); }},
    {"recoil", {0.641, 0.3121, 0.2631}, recoil},
    {"flutter", {0.5413, 0.3497, 0.2938}, flutter},
    {"dive", {0.4884, 0.1867, 0.92}, dive},
    {"pendulum", {0.5564, 0.2, 0.2636}, pendulum},
    {"figure8", {0.6448, 0.4398, 0.204}, figure8},
    {"box", {0.52, 0.5013, 0.2905}, box},
    {"corkscrew", {0.5964, 0.5804, 0.6019}, corkscrew},
    {"spiral", {0.6842, 0.6409, 0.3366}, spiral},
    {"slalom", {0.6564, 0.41, 0.4031}, slalom},
    {"spring", {0.6703, 0.372, 0.6007}, spring},
    {"ricochet", {0.8559, 0.92, 0.4772}, ricochet},
};

}  // namespace

std::span<const Motion> beat_motions() { return kMotions; }

}  // namespace movimo_gen
