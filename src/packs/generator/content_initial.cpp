// Authored tables of the initial pack: the low-frequency shapes without a
// closed rule, the rhythm and rudiment studies, the easing loops, the four
// single-cycle waveforms and the two funk drum excerpts.

#include <cmath>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "authored.h"
#include "content.h"
#include "curves.h"
#include "shaping.h"
#include "units.h"

namespace movimo_gen {
namespace {

// ---- lfo_: low-frequency shapes ----

// A long rounded sweep from low to high over three beats, then a one-beat
// recovery; both strokes are half cosines, so the reset is smooth.
Table lfo_surge(int period) {
  const Key keys[] = {{0, {-0.8}}, {3 * kBeat, {0.84}}};
  return eased_keys(period, keys);
}

// Long dwells at open, half-closed and shut, joined by 16-pip transitions.
Table lfo_soft_gate(int period) {
  const Key keys[] = {{0, {0.8}},    {96, {0.8}},  {112, {-0.5}},
                      {160, {-0.5}}, {176, {0.0}}, {240, {0.0}}};
  return eased_keys(period, keys);
}

// A deep and a shallow downward pump, then a breathing space at rest.
Table lfo_double_pump(int period) {
  const Event pumps[] = {{48, {0.0, -0.85, 0.0}, symmetric(44)},
                         {136, {0.0, -0.55, 0.0}, symmetric(40)}};
  return render_events(period, pumps);
}

// Four eighth-note hits alternating sides, each weaker than the last, then
// rest. The hits do not overlap, so each table row at a hit is its peak.
Table lfo_ratchet(int period) {
  constexpr double kDecay[] = {1.0, 0.72, 0.52, 0.37};
  std::vector<Event> hits;
  for (int i = 0; i < 4; ++i) {
    hits.push_back({kEighth * i, {0.84 * kDecay[i] * side(i), -0.5 * kDecay[i], 0.0}, symmetric(16)});
  }
  return render_events(period, hits);
}

// Five plateaus climbing across the field in rounded 8-pip steps, then a
// one-beat glide back down.
Table lfo_glide_stair(int period) {
  const Key keys[] = {{0, {-0.8}},  {24, {-0.8}}, {32, {-0.4}}, {56, {-0.4}},
                      {64, {0.0}},  {88, {0.0}},  {96, {0.4}},  {120, {0.4}},
                      {128, {0.8}}, {192, {0.8}}};
  return eased_keys(period, keys);
}

// Triangle rising over `apex` of the cycle and falling over the rest, from
// -1 at phase 0 to 1 at the apex.
double skewed_triangle(double phase, double apex) {
  return phase < apex ? -1.0 + 2.0 * phase / apex : 1.0 - 2.0 * (phase - apex) / (1.0 - apex);
}

// Four two-beat cycles whose lateral shape blends from a sine (phrase
// start) to a skewed triangle (phrase middle) and back; y follows the same
// cycle a quarter turn later, so the loop visibly changes shape.
Table lfo_morph(int period) {
  Table table(static_cast<std::size_t>(period));
  for (int p = 0; p < period; ++p) {
    const double phase = std::fmod(4.0 * p / period, 1.0);
    const double blend = (1.0 - std::cos(kTwoPi * p / period)) / 2.0;
    const double sine = -std::cos(kTwoPi * phase);
    table[p].x = 0.8 * ((1.0 - blend) * sine + blend * skewed_triangle(phase, 0.75));
    table[p].y = 0.45 * std::sin(kTwoPi * phase);
  }
  return table;
}

// ---- rhythm_: two-lane event studies ----

// Onsets of the Euclidean rhythm E(k, n) over the period, first onset on
// step 0, alternating sides; the first onset is the accent.
Table euclid_study(int period, int k, int n, double x_peak, double y_peak, double half_width) {
  std::vector<Event> events;
  for (int i = 0; i < k; ++i) {
    const int step = euclidean_step(i, k, n);
    const double accent = i == 0 ? 1.0 : 0.75;
    events.push_back({static_cast<double>(step) * period / n,
                      {x_peak * accent * side(i), -y_peak * accent, 0.0}, symmetric(half_width)});
  }
  return render_events(period, events);
}

Table rhythm_euclid_3_8(int period) { return euclid_study(period, 3, 8, 0.85, 0.4, 20); }
Table rhythm_euclid_5_12(int period) { return euclid_study(period, 5, 12, 0.8, 0.36, 12); }

// Three lateral events against two vertical ones.
Table rhythm_three_two(int period) {
  std::vector<Event> events;
  for (int i = 0; i < 3; ++i) events.push_back({period * i / 3.0, {0.78, 0.0, 0.0}, symmetric(15)});
  for (int i = 0; i < 2; ++i) events.push_back({period * i / 2.0, {0.0, 0.78, 0.0}, symmetric(15)});
  return render_events(period, events);
}

// Downbeat drop, a lateral snare accent on beat three and light swung
// offbeat shuffles that alternate sides.
Table rhythm_half_time(int period) {
  std::vector<Event> events = {{0, {0.0, -0.85, 0.0}, symmetric(22)},
                               {2 * kBeat, {0.7, -0.45, 0.0}, symmetric(20)}};
  for (int beat = 0; beat < 4; ++beat) {
    events.push_back({beat * kBeat + kBeat * 2.0 / 3.0, {-0.24 * side(beat), -0.12, 0.0}, symmetric(8)});
  }
  return render_events(period, events);
}

// ---- rudiment_: sticking studies ----

constexpr Row kAccentedStroke = {0.82, -0.42, 0.0};
constexpr double kTapShare = 0.6;  // an unaccented stroke reaches 0.6 of an accent
constexpr double kStrokeHalfWidth = 8.75;

// Twelve triplet-eighth strokes following `sticking` (R moves +x, L -x;
// blanks ignored); the first stroke of each half is accented, and the last
// one too when `accent_last`.
Table sticking_study(int period, std::string_view sticking, bool accent_last) {
  std::string hands;
  for (char hand : sticking) {
    if (hand != ' ') hands.push_back(hand);
  }
  const int strokes = static_cast<int>(hands.size());
  std::vector<Event> events;
  for (int i = 0; i < strokes; ++i) {
    const int in_half = i % (strokes / 2);
    const bool accent = in_half == 0 || (accent_last && in_half == strokes / 2 - 1);
    const double level = accent ? 1.0 : kTapShare;
    const double side = hands[i] == 'R' ? 1.0 : -1.0;
    events.push_back({static_cast<double>(period) * i / strokes,
                      {kAccentedStroke.x * level * side, kAccentedStroke.y * level, 0.0},
                      symmetric(kStrokeHalfWidth)});
  }
  return render_events(period, events);
}

Table rudiment_double_paradiddle(int period) { return sticking_study(period, "RLRLRR LRLRLL", false); }
Table rudiment_paradiddle_diddle(int period) { return sticking_study(period, "RLRRLL LRLLRR", false); }
Table rudiment_six_stroke(int period) { return sticking_study(period, "RLLRRL LRRLLR", true); }

// Four triplet groups, one per beat, led alternately by R and L. Each lead
// is accented and preceded by a grace stroke of the other hand, placed a
// generous 10 pips early so that the flam reads as two motions.
Table rudiment_flam_accent(int period) {
  constexpr double kGraceLead = 10.0;
  constexpr double kStrokeSpacing = kBeat / 3.0;
  std::vector<Event> events;
  for (int beat = 0; beat < 4; ++beat) {
    const double lead = beat % 2 == 0 ? 1.0 : -1.0;
    const double at = beat * kBeat;
    events.push_back({at - kGraceLead, {-0.3 * lead, -0.16, 0.0}, symmetric(5)});
    events.push_back({at, {kAccentedStroke.x * lead, kAccentedStroke.y, 0.0}, symmetric(kStrokeHalfWidth)});
    for (int tap = 1; tap < 3; ++tap) {
      const double side = tap == 1 ? -lead : lead;
      events.push_back({at + tap * kStrokeSpacing,
                        {kAccentedStroke.x * kTapShare * side, kAccentedStroke.y * kTapShare, 0.0},
                        symmetric(kStrokeHalfWidth)});
    }
  }
  Table table = render_events(period, events);
  // The grace stroke deepens each accent's dip; the deepest reaches 0.4261.
  scale_axis_to_peak(table, &Row::y, 0.4261);
  return table;
}

// ---- ease_: easing curves as out-and-back loops ----

// The widely published easing formulas, as functions of t in [0, 1].
double bounce_out(double t) {
  constexpr double kScale = 7.5625;
  constexpr double kSpan = 2.75;
  if (t < 1.0 / kSpan) return kScale * t * t;
  if (t < 2.0 / kSpan) {
    t -= 1.5 / kSpan;
    return kScale * t * t + 0.75;
  }
  if (t < 2.5 / kSpan) {
    t -= 2.25 / kSpan;
    return kScale * t * t + 0.9375;
  }
  t -= 2.625 / kSpan;
  return kScale * t * t + 0.984375;
}

constexpr double kBackOvershoot = 1.70158;
double back_in(double t) { return t * t * ((kBackOvershoot + 1.0) * t - kBackOvershoot); }
double back_out(double t) { return 1.0 - back_in(1.0 - t); }

// The easing runs outward over the first half of the loop and is retraced
// over the second, so row p equals row period - p; scaled to `peak`.
Table out_and_back(int period, double (*ease)(double), double peak) {
  Table table(static_cast<std::size_t>(period));
  const int half = period / 2;
  for (int p = 0; p <= half; ++p) {
    const double value = ease(static_cast<double>(p) / half);
    table[p].x = value;
    table[(period - p) % period].x = value;
  }
  scale_to_peak(table, peak);
  return table;
}

Table ease_rebound(int period) { return out_and_back(period, bounce_out, 0.72); }
Table ease_anticipate(int period) { return out_and_back(period, back_in, 0.7); }
Table ease_overshoot(int period) { return out_and_back(period, back_out, 0.78); }

// Six oscillations under an early-peaking window that closes at the seam:
// sin²(π·u) lets the loop start and end at rest, e^(-3u) makes it decay.
Table ease_elastic(int period) {
  Table table = sample_x(period, [](double t) {
    const double u = t / kTwoPi;
    const double window = std::sin(kPi * u) * std::sin(kPi * u);
    return window * std::exp(-3.0 * u) * std::sin(6.0 * t);
  });
  scale_to_peak(table, 0.8);
  return table;
}

// ---- akwf_: single-cycle waveforms ----
//
// No waveform files are read: each cycle is authored here as the shape its
// name describes, 256 samples, one per pip.

constexpr double kWavePeak = 0.85;

// One cycle of `wave` (a function of the cycle fraction in [0, 1)) read one
// sample per pip from cycle fraction `start` on, scaled to the waveform peak.
Table single_cycle(int period, const std::function<double(double)>& wave, double start) {
  Table table(static_cast<std::size_t>(period));
  for (int p = 0; p < period; ++p) table[p].x = wave(std::fmod(start + static_cast<double>(p) / period, 1.0));
  scale_to_peak(table, kWavePeak);
  return table;
}

double seam_step(const Table& table) { return std::fabs(table.front().x - table.back().x); }

// The start fraction, in the first rising stretch of the seam step, at which
// the scaled cycle's seam step is `step`; found by bisection to 1e-15.
double start_for_seam(int period, const std::function<double(double)>& wave, double step) {
  auto excess = [&](double start) { return seam_step(single_cycle(period, wave, start)) - step; };
  double low = 0.0;
  double high = 0.0;
  for (int i = 1; excess(high) <= 0.0; ++i) {
    if (i > 4 * period) throw std::logic_error("waveform never reaches the seam step");
    low = high;
    high = static_cast<double>(i) / (4 * period);
  }
  while (high - low > 1e-15) {
    const double middle = (low + high) / 2.0;
    (excess(middle) <= 0.0 ? low : high) = middle;
  }
  return high;
}

// A band-limited rising sawtooth (six harmonics, Lanczos-smoothed): a long
// ramp and a rounded fall. The cycle starts mid-ramp, half a sample past
// its zero crossing so that no sample sits at rest.
Table akwf_round_saw(int period) {
  auto wave = [](double f) {
    double sum = 0.0;
    for (int n = 1; n <= 6; ++n) {
      const double sigma = std::sin(kPi * n / 7.0) / (kPi * n / 7.0);
      sum -= sigma * std::sin(kTwoPi * n * f) / n;
    }
    return sum;
  };
  return single_cycle(period, wave, 0.5 + 0.5 / period);
}

// A rounded rise over 244/256 of the cycle and a 12-sample return; the file
// starts inside the return, where the seam step is 0.186.
Table akwf_quick_return(int period) {
  constexpr double kReturn = 12.0 / 256.0;
  auto wave = [](double f) {
    if (f < kReturn) return std::cos(kPi * f / kReturn);
    return -std::cos(kPi * (f - kReturn) / (1.0 - kReturn));
  };
  return single_cycle(period, wave, start_for_seam(period, wave, 0.186));
}

// Fundamental with strong third, sixth and ninth harmonics: several lobes
// of unequal height. The file starts on a steep flank, seam step 0.084.
Table akwf_multi_lobe(int period) {
  auto wave = [](double f) {
    const Partial partials[] = {{1, 1.0, 0.0}, {3, 0.45, 0.7}, {6, 0.35, 0.2}, {9, 0.35, 1.9}};
    return harmonic_sum(partials, kTwoPi * f);
  };
  return single_cycle(period, wave, start_for_seam(period, wave, 0.084));
}

// Unequal high and low plateaus joined by rounded ramps.
Table akwf_plateau(int period) {
  const Key keys[] = {{4, {1.0}}, {100, {1.0}}, {136, {-0.72}}, {216, {-0.72}}};
  Table table = eased_keys(period, keys);
  scale_to_peak(table, kWavePeak);
  return table;
}

// ---- groove_: two-bar funk drum excerpts ----

enum class Voice { kick, snare, hat };

// One drum lane over two bars, written as a drummer reads a step grid:
// sixteen sixteenths per bar, '|' between the bars; X accent, o open hat,
// x normal, g ghost note, '.' silent. `late` holds, under each hit, how
// many pips late the performance played it, as a digit minus 4 ('4' on the
// grid, '2' two pips early, '7' three pips late).
struct Lane {
  Voice voice;
  std::string_view hits;
  std::string_view late;
};

// Excerpt A: kick on one and the "and" of one, laid-back backbeats with
// ghost notes around them, sixteenth hats with the "e" and "a" pushed late.
constexpr Lane kExcerptA[] = {
    {Voice::kick, "X.X.......X..x..|X.X.......X.x...", "4.5.......3..5..|3.5.......4.5..."},
    {Voice::snare, "....X..g.g..X..g|....X..g.g.gX.g.", "....6..5.3..6..4|....7..5.4.3.7.5."},
    {Voice::hat, "XgxgXgxgXgxgXgxg|XgxgXgxgXgxgXgog", "4646464646564646|4646465646464647"},
};

// Excerpt B: a syncopated kick, ghost-note chatter, one silent sixteenth
// before the backbeat of bar two and a closing snare pickup with an open hat.
constexpr Lane kExcerptB[] = {
    {Voice::kick, "X..X..x...X.x...|X..X......x..X..", "4..3..5...4.3...|4..3......5..4.."},
    {Voice::snare, "g...X.g..g..X..g|..g.X..g.g..X.gX", "5...6.4..3..7..5|..5.6..4.3..7.45"},
    {Voice::hat, "XgxgXgxgXgxgXgxg|XgxgXgxgXgx.Xgxo", "4646464646564646|46464656465.4647"},
};

double velocity(char mark) {
  switch (mark) {
    case 'X': return 1.0;
    case 'o': return 0.85;
    case 'x': return 0.7;
    case 'g': return 0.3;
    default: return 0.0;
  }
}

// Motion of a full-velocity hit on sixteenth `step` of its bar: the kick
// drops, snares lean right in the first half of the bar and left in the
// second, hats lift a little.
Row push_of(Voice voice, int step) {
  switch (voice) {
    case Voice::kick: return {0.0, -1.0, 0.0};
    case Voice::snare: return {step < 8 ? 1.0 : -1.0, 0.12, 0.0};
    case Voice::hat: return {0.0, 0.2, 0.0};
  }
  return {};
}


// Each hit is a pose the motion passes through: raised-cosine responses a
// sixteenth wide each side, so on the grid the motion crossfades from one
// sixteenth's pose to the next.
void add_lane(std::vector<Event>& events, const Lane& lane, bool performed) {
  int step = 0;
  for (std::size_t i = 0; i < lane.hits.size(); ++i) {
    if (lane.hits[i] == '|') continue;
    const double level = velocity(lane.hits[i]);
    if (level > 0.0) {
      const double late = performed ? lane.late[i] - '4' : 0.0;
      const Row push = push_of(lane.voice, step % 16);
      events.push_back({step * kSixteenth + late, {push.x * level, push.y * level, 0.0}, symmetric(kSixteenth)});
    }
    ++step;
  }
}

Table groove(int period, std::span<const Lane> lanes, bool performed, double x_peak, double y_peak) {
  std::vector<Event> events;
  for (const Lane& lane : lanes) add_lane(events, lane, performed);
  Table table = render_events(period, events);
  scale_axis_to_peak(table, &Row::x, x_peak);
  scale_axis_to_peak(table, &Row::y, y_peak);
  return table;
}

// Excerpt B holds the pack's only full-scale peak: x reaches exactly 1.0.
Table groove_a_played(int period) { return groove(period, kExcerptA, true, 0.92, 0.45); }
Table groove_a_grid(int period) { return groove(period, kExcerptA, false, 0.92, 0.45); }
Table groove_b_played(int period) { return groove(period, kExcerptB, true, 1.0, 0.4859); }
Table groove_b_grid(int period) { return groove(period, kExcerptB, false, 1.0, 0.4859); }

// ---- Dispatch ----

constexpr AuthoredTable kAuthored[] = {
    {"lfo_surge", lfo_surge},
    {"lfo_soft_gate", lfo_soft_gate},
    {"lfo_double_pump", lfo_double_pump},
    {"lfo_ratchet", lfo_ratchet},
    {"lfo_glide_stair", lfo_glide_stair},
    {"lfo_morph", lfo_morph},
    {"rhythm_euclid_3_8", rhythm_euclid_3_8},
    {"rhythm_euclid_5_12", rhythm_euclid_5_12},
    {"rhythm_three_two", rhythm_three_two},
    {"rhythm_half_time", rhythm_half_time},
    {"rudiment_double_paradiddle", rudiment_double_paradiddle},
    {"rudiment_paradiddle_diddle", rudiment_paradiddle_diddle},
    {"rudiment_six_stroke", rudiment_six_stroke},
    {"rudiment_flam_accent", rudiment_flam_accent},
    {"ease_rebound", ease_rebound},
    {"ease_anticipate", ease_anticipate},
    {"ease_overshoot", ease_overshoot},
    {"ease_elastic", ease_elastic},
    {"akwf_round_saw", akwf_round_saw},
    {"akwf_quick_return", akwf_quick_return},
    {"akwf_multi_lobe", akwf_multi_lobe},
    {"akwf_plateau", akwf_plateau},
    {"groove_a_played", groove_a_played},
    {"groove_a_grid", groove_a_grid},
    {"groove_b_played", groove_b_played},
    {"groove_b_grid", groove_b_grid},
};

}  // namespace

Table author_initial(const Entry& entry) { return authored_table(kAuthored, entry); }

}  // namespace movimo_gen
