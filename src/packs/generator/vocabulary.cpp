#include "vocabulary.h"

#include <charconv>
#include <deque>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

namespace movimo_gen {
namespace {

// ---------------------------------------------------------------------------
// Initial and expansion packs: entries listed whole, in registry order.

struct Listed {
  std::string_view name;
  int period;
  int dimensions;
  std::string_view description;
};

constexpr Listed kInitial[] = {
    {"lfo_breathe", 256, 1, "A four-beat, single-axis sine. The quiet reference for judging busier shapes."},
    {"lfo_surge", 256, 1, "A long rounded sweep and short recovery; an independently authored smooth-reset shape."},
    {"lfo_soft_gate", 256, 1, "Short smooth transitions separated by long stationary dwells. No square-wave teleport."},
    {"lfo_double_pump", 256, 2, "Two unequal pumps and a breathing space within four beats."},
    {"lfo_ratchet", 256, 2, "A four-hit decaying burst, then a rest. Every event is peak-aligned."},
    {"lfo_glide_stair", 256, 1, "Five rounded steps traverse the field, then a smooth return."},
    {"lfo_morph", 512, 2, "An eight-beat blend between a sine and skewed triangle; movement changes within the phrase."},
    {"lfo_flower", 512, 2, "Related rotations form an original three-lobed XY loop over eight beats."},
    {"rhythm_euclid_3_8", 256, 2, "3 evenly distributed onsets on a 8-step grid. Alternating lateral gestures."},
    {"rhythm_euclid_5_12", 256, 2, "5 evenly distributed onsets on a 12-step grid. Alternating lateral gestures."},
    {"rhythm_three_two", 256, 2, "Three horizontal gestures interlock with two vertical gestures in one four-beat cycle."},
    {"rhythm_half_time", 256, 2, "A strong downbeat, snare-like accent on beat three, and smaller offbeat shuffles."},
    {"rudiment_double_paradiddle", 256, 2, "Visual sticking study RLRLRR LRLRLL; equal triplet spacing over four beats. This is a movement interpretation, not a complete drum-performance notation."},
    {"rudiment_paradiddle_diddle", 256, 2, "Visual sticking study RLRRLL LRLLRR; equal triplet spacing over four beats. This is a movement interpretation, not a complete drum-performance notation."},
    {"rudiment_six_stroke", 256, 2, "Visual sticking study RLLRRL LRRLLR; equal triplet spacing over four beats. This is a movement interpretation, not a complete drum-performance notation."},
    {"rudiment_flam_accent", 256, 2, "Opposite-hand grace gestures lead accented groups of three; deliberately expanded for visible motion."},
    {"ease_rebound", 256, 1, "An attributed D3 easing curve, assembled into a closed outward-and-return loop."},
    {"ease_anticipate", 256, 1, "An attributed D3 easing curve, assembled into a closed outward-and-return loop."},
    {"ease_overshoot", 256, 1, "An attributed D3 easing curve, assembled into a closed outward-and-return loop."},
    {"ease_elastic", 256, 1, "Original windowed, decaying oscillation; not a copied D3 curve. Peak scaled to .8."},
    {"akwf_round_saw", 256, 1, "AKWF_R_asym_saw_05_256: an actual CC0 waveform slowed to a four-beat position loop."},
    {"akwf_quick_return", 256, 1, "AKWF_R_asym_saw_15_256: an actual CC0 waveform slowed to a four-beat position loop."},
    {"akwf_multi_lobe", 256, 1, "AKWF_0001_256: an actual CC0 waveform slowed to a four-beat position loop."},
    {"akwf_plateau", 256, 1, "AKWF_0010_256: an actual CC0 waveform slowed to a four-beat position loop."},
    {"groove_a_played", 512, 2, "Two-bar funk excerpt A (4\u201312 source beats), performed microtiming."},
    {"groove_a_grid", 512, 2, "Two-bar funk excerpt A (4\u201312 source beats), same hits quantised to sixteenths."},
    {"groove_b_played", 512, 2, "Two-bar funk excerpt B (36\u201344 source beats), performed microtiming."},
    {"groove_b_grid", 512, 2, "Two-bar funk excerpt B (36\u201344 source beats), same hits quantised to sixteenths."},
};

constexpr Listed kExpansion[] = {
    {"lfo_twin_swell", 512, 2, "Two broad swells of unequal depth, with a gentle lateral answer. Eight beats."},
    {"lfo_pulse_hold", 256, 1, "A smooth outward pulse, sustained plateau, smaller opposite recoil, and rest."},
    {"lfo_sweep_ratchet", 512, 2, "A slow lateral sweep followed by three decaying vertical ratchets; no reset jump."},
    {"lfo_triplet_wobble", 512, 2, "Three rounded oscillations per two beats, breathing in depth over an eight-beat phrase."},
    {"lfo_breathing_orbit", 512, 2, "A closed ellipse expands and contracts twice during its eight-beat revolution."},
    {"lfo_seeded_drift", 1024, 2, "Two independently seeded smooth random lanes; irregular-looking but exactly periodic and seekable."},
    {"lfo_pendulum_dwell", 512, 2, "Rounded saturation slows the pendulum near either side; a shallow arc connects the turns."},
    {"lfo_reverse_swell", 512, 2, "A long anticipatory rise, quick softened return, and two diminishing aftershocks."},
    {"path_lissajous_2_3", 512, 2, "Two horizontal cycles cross three vertical cycles in a closed eight-beat Lissajous path."},
    {"path_rose_4", 512, 2, "A signed radial oscillation draws four petals, passing through the centre between them."},
    {"path_rose_5", 512, 2, "Five petals in one complete eight-beat traversal; the odd-petal parameter runs through pi, not two pi."},
    {"path_bowed_diamond", 512, 2, "An astroid-shaped loop with inward-curved edges and naturally slow corners."},
    {"path_orbit_dwell", 512, 2, "An ellipse whose phase slows to zero speed at the loop boundary and accelerates through the opposite side."},
    {"path_torus_knot", 1024, 3, "Two turns around the axis and three through the tube. XYZ is retained; the demo projects depth."},
    {"path_woven_3d", 1024, 3, "Independent two-, three-, and five-cycle XYZ oscillations close after sixteen beats."},
    {"path_crank_slider", 256, 2, "Horizontal slider-crank travel with rod length three and crank radius one; vertical motion follows the crank tip."},
    {"rhythm_five_four", 512, 2, "5 lateral hits against four vertical hits per four beats; two bars preserve alternating directions."},
    {"rhythm_seven_four", 512, 2, "7 lateral hits against four vertical hits per four beats; two bars preserve alternating directions."},
    {"rhythm_euclid_7_16", 512, 2, "7 evenly distributed onsets on a sixteen-step grid, repeated with alternating sides over eight beats."},
    {"rhythm_euclid_5_16", 512, 2, "5 evenly distributed onsets on a sixteen-step grid, repeated with alternating sides over eight beats."},
    {"rhythm_swung_answer", 256, 2, "A two-to-one swung call on the right, answered on the left; four beats and eight peak-aligned gestures."},
    {"rhythm_group_332", 512, 2, "Groups of three, three, and two eighth notes. Six alternating accents make an eight-beat loop."},
    {"rhythm_group_223", 448, 2, "Two 7/8 bars grouped as 2+2+3 eighth notes: a seven-quarter-note loop, not forced into four beats."},
    {"rhythm_three_four_five", 512, 3, "Three X, four Y, and five Z gestures share an eight-beat phrase, with exact rational peak times."},
};

// ---------------------------------------------------------------------------
// Atlas and continuum packs: one row per family of sixteen members.

// Periods counted in eighth notes take 32 pips per eighth.
constexpr int kPipsPerEighth = 32;

enum class PeriodFrom {
  fixed,        // the same number of pips for every member
  last_number,  // eighths: the last number of the member (euclid_3_10: 10)
  number_sum,   // eighths: the sum of the member's numbers (meter_2_3: 5)
};

struct PeriodRule {
  PeriodFrom from;
  int pips = 0;
};
constexpr PeriodRule fixed(int pips) { return {PeriodFrom::fixed, pips}; }
constexpr PeriodRule kEighthsOfLast{PeriodFrom::last_number};
constexpr PeriodRule kEighthsOfSum{PeriodFrom::number_sum};

// `dimensions` for every member except those listed in `others`.
struct AxisRule {
  int dimensions;
  int other_dimensions = 0;
  std::string_view others = {};
};

// Members whose first word is `word` take `description` instead.
struct Alternate {
  std::string_view word;
  std::string_view description;
};

// Descriptions are templates: {title} is the member's title (kTitles),
// {word} the first word of the member, {last} its last word, {a} and {b}
// its first and second numbers.
struct Family {
  std::string_view pack;
  std::string_view word;
  std::string_view members;  // blank-separated, in registry order
  PeriodRule period;
  AxisRule axes;
  std::string_view description;
  Alternate alternate = {};
};

constexpr Family kFamilies[] = {
    {"atlas", "wave",
     "pinched shouldered folded double_fold rounded_square soft_rectifier skew_warp scoop_warp "
     "shelf_wave notched bottle reed unequal_peaks ripple_return soft_teeth warped_fold",
     fixed(512), {1},
     "{title}; a continuous shaped control wave, mapped to horizontal displacement."},
    {"atlas", "env",
     "lift_hold_drop inhale_exhale triple_swell rising_echo falling_echo anticipation "
     "plateau_scoop hesitant double_hold swell_recoil late_release split_attack suspended "
     "valley_peaks four_breaths return_stair",
     fixed(512), {2},
     "{title} over an eight-beat phrase; smooth, resting joins."},
    {"atlas", "seq",
     "up_down_even up_down_lilt pendulum_even pendulum_lilt octave_even octave_lilt unequal_even "
     "unequal_lilt question_even question_lilt answer_even answer_lilt ratchet_even ratchet_lilt "
     "stairs_even stairs_lilt",
     fixed(512), {2},
     "A programmed position sequence with {last} segment durations and softened transitions."},
    {"atlas", "noise",
     "drift_5 drift_7 drift_9 drift_11 orbit_6 orbit_8 orbit_10 orbit_12 ripple_5 ripple_7 "
     "ripple_9 ripple_11 depth_6 depth_8 depth_10 depth_12",
     fixed(1024), {2, 3, "depth_6 depth_8 depth_10 depth_12"},
     "Indexed SHA-256 control points in a closed {word} path. No mutable random state."},
    {"atlas", "orbit",
     "harmonic_01 harmonic_02 harmonic_03 harmonic_04 harmonic_05 harmonic_06 harmonic_07 "
     "harmonic_08 harmonic_09 harmonic_10 harmonic_11 harmonic_12 harmonic_13 harmonic_14 "
     "harmonic_15 harmonic_16",
     fixed(512), {2},
     "An ellipse combined with unequal horizontal and vertical harmonic ripples."},
    {"atlas", "weave", "1_3 1_4 1_5 2_5 2_7 3_4 3_5 3_7 3_8 4_5 4_7 4_9 5_6 5_7 5_8 5_9",
     fixed(1024), {2},
     "{a} horizontal and {b} vertical cycles; a phase-offset, closed 16-beat traversal."},
    {"atlas", "polar",
     "rose_3 rose_6 rose_7 rose_8 rose_9 rose_10 rose_11 rose_12 scallop_2 scallop_3 scallop_4 "
     "scallop_5 scallop_6 scallop_7 scallop_8 scallop_9",
     fixed(1024), {2},
     "A complete signed-radius rose traversal; odd-petal roses use a half-turn parameter.",
     {"scallop",
      "A positive-radius scalloped loop; no centre crossings, with an asymmetrically bent lobe."}},
    {"atlas", "spiro",
     "inside_3_1 inside_4_1 inside_5_2 inside_5_1 inside_7_2 inside_7_3 inside_8_3 inside_9_4 "
     "outside_3_1 outside_4_1 outside_5_2 outside_5_1 outside_7_2 outside_7_3 outside_8_3 "
     "outside_9_4",
     fixed(1024), {2},
     "A closed {word}-rolling circle trace, with pen radius smaller than the rolling radius."},
    {"atlas", "space",
     "torus_2_5 torus_2_7 torus_3_4 torus_3_5 torus_3_7 torus_4_5 torus_4_7 torus_5_6 "
     "weave_1_2_3 weave_1_3_4 weave_2_3_4 weave_2_3_7 weave_2_5_7 weave_3_4_5 weave_3_5_7 "
     "weave_4_5_7",
     fixed(1024), {3},
     "A genuine XYZ closed torus-knot trajectory. The demo uses an oblique projection.",
     {"weave", "Three coprime-frequency coordinate lanes with distinct phase offsets."}},
    {"atlas", "mech",
     "piston_short piston_long offset_crank scotch_yoke whitworth elliptic_cam two_lobe_cam "
     "three_lobe_cam escapement paddle wobble_plate rocking_beam coupled_cranks crank_rocker "
     "piston_balance cam_return",
     fixed(512), {2, 3, "wobble_plate crank_rocker piston_balance"},
     "{title}; an original kinematic-style position study, not an engineering simulation."},
    {"atlas", "euclid", "2_5 3_7 3_10 4_9 4_11 5_9 5_11 5_13 5_14 6_13 7_12 7_15 7_17 8_19 9_20 11_24",
     kEighthsOfLast, {2},
     "Evenly distributed accents with alternating sides; first onset is the phrase accent."},
    {"atlas", "poly", "2_5 2_7 2_9 3_5 3_7 3_8 3_10 4_5 4_7 4_9 5_6 5_7 5_8 5_9 6_7 7_8",
     fixed(512), {3},
     "Two independent pulse trains share an eight-beat boundary. Each right-lane gesture includes depth."},
    {"atlas", "meter",
     "2_3 3_2 3_2_2 2_3_2 3_4 4_3 2_2_2_3 2_3_2_2 3_2_3_2 3_3_2_3 2_2_3_2_3 3_3_3_2 4_3_3 3_4_4 "
     "2_3_3_2_3 3_3_3_4",
     kEighthsOfSum, {3},
     "Group starts lean alternately left and right; quieter subdivisions mark the eighth-note grid."},
    {"atlas", "swing",
     "push_3_5 answer_3_5 skip_3_5 shuffle_3_5 push_2_3 answer_2_3 skip_2_3 shuffle_2_3 push_5_7 "
     "answer_5_7 skip_5_7 shuffle_5_7 push_3_4 answer_3_4 skip_3_4 shuffle_3_4",
     fixed(512), {3, 2, "answer_3_5 answer_2_3 answer_5_7 answer_3_4"},
     "Eight-beat {word} score with offbeats at {a}/{b} of each beat; peaks follow the score."},
    {"atlas", "stick",
     "study_01 study_02 study_03 study_04 study_05 study_06 study_07 study_08 study_09 study_10 "
     "study_11 study_12 study_13 study_14 study_15 study_16",
     fixed(512), {2},
     "Original R/L movement study with accented group leads, followed by its hand-swapped answer. "
     "Not an official rudiment transcription."},
    {"atlas", "gesture",
     "side_reach cross_reach low_scoop high_arc corner_taps diagonal_touch box_return zigzag_lift "
     "duck_sway push_pull reach_depth bow_turn heel_toe hop_answer spiral_reach diamond_depth",
     fixed(512), {2, 3, "push_pull reach_depth bow_turn spiral_reach diamond_depth"},
     "An original single-point {title} gesture. Abstract motion, not a full-body dance or "
     "biomechanical recording."},

    {"continuum", "ribbon",
     "1_2_slim 1_3_slim 1_4_slim 1_5_slim 2_3_slim 2_5_slim 3_4_slim 3_5_slim 1_2_deep 1_3_deep "
     "1_4_deep 1_5_deep 2_3_deep 2_5_deep 3_4_deep 3_5_deep",
     fixed(1024), {3},
     "A curved elliptical spine with variable radial width and linked depth deflection."},
    {"continuum", "contour",
     "shaped_01 shaped_02 shaped_03 shaped_04 shaped_05 shaped_06 shaped_07 shaped_08 shaped_09 "
     "shaped_10 shaped_11 shaped_12 shaped_13 shaped_14 shaped_15 shaped_16",
     fixed(1024),
     {2, 3, "shaped_09 shaped_10 shaped_11 shaped_12 shaped_13 shaped_14 shaped_15 shaped_16"},
     "Signed-power oval edges with local ripples and an asymmetric bow."},
    {"continuum", "silhouette",
     "harmonic_01 harmonic_02 harmonic_03 harmonic_04 harmonic_05 harmonic_06 harmonic_07 "
     "harmonic_08 harmonic_09 harmonic_10 harmonic_11 harmonic_12 harmonic_13 harmonic_14 "
     "harmonic_15 harmonic_16",
     fixed(1024), {3},
     "Three unequal harmonic components, with cross-axis phases and a small linked depth term."},
    {"continuum", "spline",
     "kite hourglass hook crown bow crooked_cross asymmetric_star scoop rising_kite twisted_bow "
     "cup bridge double_bay slanted_loop fork folded_crown",
     fixed(512),
     {2, 3, "rising_kite twisted_bow cup bridge double_bay slanted_loop fork folded_crown"},
     "Periodic cubic tangents connect asymmetrical controls with unequal segment times."},
    {"continuum", "tour", "5_2 7_2 7_3 8_3 9_2 9_4 10_3 11_2 11_3 11_4 12_5 13_2 13_3 13_4 13_5 14_3",
     fixed(1024), {2, 3, "11_3 11_4 12_5 13_2 13_3 13_4 13_5 14_3"},
     "A noncircular vertex tour with eased corners and alternating dwell lengths."},
    {"continuum", "scan",
     "flat_3 bowed_3 tilted_3 depth_3 flat_4 bowed_4 tilted_4 depth_4 flat_5 bowed_5 tilted_5 "
     "depth_5 flat_6 bowed_6 tilted_6 depth_6",
     fixed(1024), {2, 3, "depth_3 depth_4 depth_5 depth_6"},
     "An eased serpentine scan and an explicit outer return to the starting point."},
    {"continuum", "reach",
     "scoop_3 hook_3 lift_3 recoil_3 scoop_4 hook_4 lift_4 recoil_4 scoop_5 hook_5 lift_5 "
     "recoil_5 scoop_7 hook_7 lift_7 recoil_7",
     fixed(1024), {2, 3, "lift_3 lift_4 lift_5 lift_7"},
     "Separate shaped reaches depart from and settle at a shared centre, without reset jumps."},
    {"continuum", "surface",
     "1_2_low 1_3_low 1_4_low 1_5_low 2_3_low 2_5_low 3_4_low 3_5_low 1_2_wide 1_3_wide 1_4_wide "
     "1_5_wide 2_3_wide 2_5_wide 3_4_wide 3_5_wide",
     fixed(1024), {3},
     "A varying-radius surface path with coupled longitude and latitude; all three coordinates "
     "are retained."},
    {"continuum", "braid", "1_2 1_3 1_4 1_5 2_3 2_5 3_4 3_5 1_6 2_7 3_7 4_5 4_7 5_6 5_7 5_8",
     fixed(1024), {3},
     "An offset tube centreline and a rolling cross-section with a second depth ripple."},
    {"continuum", "arm",
     "coupled_01 coupled_02 coupled_03 coupled_04 coupled_05 coupled_06 coupled_07 coupled_08 "
     "coupled_09 coupled_10 coupled_11 coupled_12 coupled_13 coupled_14 coupled_15 coupled_16",
     fixed(1024),
     {2, 3,
      "coupled_09 coupled_10 coupled_11 coupled_12 coupled_13 coupled_14 coupled_15 coupled_16"},
     "Tip position of two kinematically driven links; not a dynamics simulation or anatomical "
     "model."},
    {"continuum", "dwell",
     "phrase_01 phrase_02 phrase_03 phrase_04 phrase_05 phrase_06 phrase_07 phrase_08 phrase_09 "
     "phrase_10 phrase_11 phrase_12 phrase_13 phrase_14 phrase_15 phrase_16",
     fixed(1024), {3},
     "Two unequal lift-and-hold gestures, a transfer and a settling return; holds have finite "
     "musical duration."},
    {"continuum", "packet",
     "alternating_2 cascading_2 crossing_2 depth_2 alternating_3 cascading_3 crossing_3 depth_3 "
     "alternating_4 cascading_4 crossing_4 depth_4 alternating_5 cascading_5 crossing_5 depth_5",
     fixed(512), {2, 3, "depth_2 depth_3 depth_4 depth_5"},
     "Compact, smooth-edged oscillation packets arranged around a closed phrase, with shaped side "
     "motion."},
    {"continuum", "canon",
     "01_close 01_late 02_close 02_late 03_close 03_late 04_close 04_late 05_close 05_late "
     "06_close 06_late 07_close 07_late 08_close 08_late",
     fixed(512), {3},
     "A rational-beat motif passes between lateral and depth lanes, with an altered second-half "
     "response."},
    {"continuum", "echo",
     "regular_3 shrinking_3 expanding_3 crossed_3 regular_4 shrinking_4 expanding_4 crossed_4 "
     "regular_5 shrinking_5 expanding_5 crossed_5 regular_6 shrinking_6 expanding_6 crossed_6",
     fixed(512), {3},
     "An original decaying call and a differently directed answer; echo spacing is preserved as "
     "fractions."},
    {"continuum", "ladder",
     "2_3_4_6 3_5_4_2 2_5_3_7 4_3_6_5 2_4_7_3 3_6_2_5 5_3_7_4 6_4_3_2 2_7_4_5 7_3_5_2 4_7_3_6 "
     "5_2_6_3 3_4_5_7 6_5_4_3 7_5_3_4 4_6_7_5",
     fixed(512), {3},
     "Four two-beat regions change subdivision density while accents mark region starts."},
    {"continuum", "necklace", "01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 16",
     fixed(512), {3},
     "A hand-authored binary accent word; its complement moves the other side and rising accents "
     "add depth."},
    {"continuum", "accent",
     "walk_5_1 walk_5_2 walk_7_1 walk_7_2 walk_7_3 walk_8_1 walk_8_3 walk_9_1 walk_9_2 walk_9_4 "
     "walk_10_3 walk_11_2 walk_11_3 walk_12_5 walk_13_3 walk_13_5",
     fixed(1024), {3},
     "A four-bar grid keeps its pulse spacing while a two-accent motif migrates between bars."},
    {"continuum", "triplet",
     "01_answer 01_turnaround 02_answer 02_turnaround 03_answer 03_turnaround 04_answer "
     "04_turnaround 05_answer 05_turnaround 06_answer 06_turnaround 07_answer 07_turnaround "
     "08_answer 08_turnaround",
     fixed(512), {3},
     "Triplet-grid gestures with deliberate omissions; gaps either answer off-grid or rotate after "
     "four beats."},
    {"continuum", "dialogue",
     "3_4_5 5_3_4 3_5_2 2_5_4 4_3_2 3_2_4_5 5_2_3_4 2_3_5_3 3_4_3_5 5_4_2_3 2_4_5_2 4_5_3_2 "
     "3_5_4_3 5_3_2_5 2_5_3_5 4_3_5_4",
     kEighthsOfSum, {3},
     "Different eighth-note group lengths pass a phrase between directions, with late pickup "
     "responses."},
    {"continuum", "burst",
     "3_5_2 4_3_6 5_2_4 2_7_3 3_4_5 5_3_7 6_2_5 4_7_2 7_3_4 2_5_6 5_7_3 3_6_4 4_5_7 6_3_5 7_4_3 "
     "5_6_2",
     fixed(512), {3},
     "Three unevenly subdivided directional bursts, deliberate gaps and a late settling accent."},
};

// Titles of the members of the families whose descriptions name them,
// '|'-separated in member order.
struct Titles {
  std::string_view family;
  std::string_view titles;
};

constexpr Titles kTitles[] = {
    {"wave",
     "Pinched sine|Shouldered sine|Folded sine|Double-fold wave|Rounded square|"
     "Soft rectified swell|Phase-skew sweep|Scooped return|Shelf and scoop|Notched crest|"
     "Bottle-neck swell|Reed flutter|Unequal double crest|Rippled recovery|Soft triple teeth|"
     "Warped wave fold"},
    {"env",
     "Lift, hold, settle|Long inhale, short exhale|Three unequal swells|Rising echo ladder|"
     "Falling echo ladder|Backward anticipation|Plateau then scoop|Hesitant reach|Two-height hold|"
     "Deep swell and recoil|Late release|Split attack|Suspended answer|Valley between peaks|"
     "Four breathing accents|Stepped soft recovery"},
    {"mech",
     "Short-rod piston|Long-rod piston|Offset crank|Yoke with rocking linkage|"
     "Quick-return linkage study|Elliptic cam follower|Two-lobe cam follower|"
     "Three-lobe cam follower|Soft escapement study|Paddle-wheel tip|Wobble-plate trace|"
     "Rocking beam|Coupled cranks|Crank and rocker study|Piston and balance mass|"
     "Cam rise and return"},
    {"gesture",
     "side reach|cross and reach|low scoop|high arc|corner taps|diagonal touch|box and centre|"
     "zigzag lift|duck and sway|push and pull|reach through depth|bow and turn|heel-toe abstract|"
     "hop and answer|spiral reach|depth diamond"},
};

// ---------------------------------------------------------------------------
// Club and dancefloor packs: every beat_ pattern pairs a genre with a motion.

struct Genre {
  std::string_view key;
  std::string_view title;
  int period;
  std::string_view club_note;        // empty where the club description ends after the title
  std::string_view flat_motions;     // motions danced on two axes with this genre
};

constexpr int kClubGenres = 36;  // genres 1 to 36 appear in both packs
constexpr int kClubMotions = 4;  // motions 1 to 4 make up the club pack

constexpr Genre kGenres[] = {
    {"four_floor", "Four to the floor / bare pulse", 256,
     "Equal quarter-note kicks only. This shared foundation is not itself a complete genre.",
     "bounce step orbit"},
    {"house_classic", "House / kick-clap-offbeat hat", 512, "", "bounce step"},
    {"house_shuffle", "House / shuffled hats", 512, "", "bounce step"},
    {"house_jack", "Jackin house / ghost-kick turnaround", 512,
     "Original swung variant: extra ghost kicks and claps; not a transcription of a named track.",
     "bounce step"},
    {"techno_drive", "Techno / straight driving pulse", 512, "", "bounce step"},
    {"techno_toms", "Techno / tom conversation", 512, "", "bounce step"},
    {"techno_broken", "Techno / broken kick study", 512,
     "A deliberately broken alternative; not all techno uses a quarter-note kick.", "bounce step"},
    {"techno_polymeter", "Techno / three-step percussion cycle", 768,
     "Original three-sixteenth percussion cycle over 4/4: both layers close after three bars.",
     "bounce step"},
    {"ukg_two_step", "UK garage / two-step foundation", 512,
     "Backbeats on 2/4; the second kick sits on the & of 3. Off-grid hats supply shuffle.",
     "bounce step"},
    {"ukg_skip", "UK garage / skipping answer", 512, "", "bounce step"},
    {"ukg_four_four", "UK garage / four-four shuffle", 512,
     "Garage also has a four-to-the-floor branch; it is not all two-step.", "bounce step"},
    {"speed_garage", "Speed garage / offbeat bass answers", 512,
     "Bass onsets are included as movement cues. Audio uses a simple synth, not a sampled Reese "
     "patch.",
     ""},
    {"bassline", "Bassline / syncopated low-end hooks", 512, "", ""},
    {"grime_sparse", "Grime / sparse square-cut backbeat", 512, "", "bounce step"},
    {"grime_syncopated", "Grime / displaced snare conversation", 512,
     "A 140 BPM syncopated study; grime has no single mandatory snare pattern.", "bounce step"},
    {"grime_half", "Grime / half-time negative space", 512, "", ""},
    {"drill_tresillo", "UK drill / grouped hats", 512,
     "3+3+2 sixteenth grouping is not a tuplet: the grid here remains straight.", ""},
    {"drill_displaced", "UK drill / moving second-bar snare", 512,
     "Snare: beat 3 in bar one, beat 4 in bar two. This is one common design, not a rule for all "
     "drill.",
     ""},
    {"drill_rolls", "UK drill / true triplet hat fill", 512,
     "The added hat fill uses rational tuplets; grouped hats and triplet rolls remain distinct "
     "concepts.",
     ""},
    {"amen_four_bar", "Amen / four-bar structural study", 1024,
     "Kestrow / The Winstons, Amen, Brother. Four bars, not a generic 2-bar loop. Timing/velocity "
     "are approximations; no original recording or measured human microtiming.",
     ""},
    {"amen_no_ghosts", "Amen / remove the ghost snares", 1024,
     "A/B study: only quiet snares removed. This deliberately simplified version is not the "
     "complete Amen.",
     ""},
    {"jungle_chops", "Jungle / rearranged break fragments", 512,
     "Original chopped-break-style arrangement, not the original Amen sequence.", "bounce step"},
    {"jungle_ghosts", "Jungle / ghosts and snare rolls", 512, "", "bounce step"},
    {"jungle_switch", "Jungle / full-time to half-time answer", 1024,
     "Four-bar original phrase: the final half uses fewer main snares, not a tempo change.",
     "bounce step"},
    {"dnb_two_step", "Drum & bass / two-step foundation", 512, "", "bounce step"},
    {"dnb_rolling", "Drum & bass / rolling ghosts", 512, "", "bounce step"},
    {"dnb_half", "Drum & bass / half-time space", 512, "", ""},
    {"dubstep_half", "Dubstep / half-step anchor", 512, "", ""},
    {"dubstep_skip", "Dubstep / skippy half-step", 512, "", ""},
    {"trap_trills", "Trap / half-time and hat trills", 512, "", ""},
    {"electro", "Electro / broken machine groove", 512, "", "bounce step"},
    {"trance", "Trance / offbeat lift", 512,
     "Offbeat bass/pulse is included. A rhythmic sketch cannot supply trance harmony, timbre or "
     "arrangement.",
     ""},
    {"rave_breaks", "Rave / four-floor plus break layer", 512, "", "bounce step"},
    {"dembow", "Reggaeton / dembow answer", 512,
     "Quarter-note kick version with offbeat snare answers; one useful dembow foundation, not "
     "every dancehall rhythm.",
     "bounce step"},
    {"disco", "Disco / lively hat accents", 512, "", "bounce step"},
    {"amapiano", "Amapiano / shaker and bass-percussion study", 512,
     "An original percussion and log-drum-style bass rhythm. Pitched bass is a cue lane, not a "
     "downloaded sample.",
     ""},
    {"jersey_five", "Jersey / five-kick foundation", 512, "", "bounce step"},
    {"jersey_call", "Jersey / call and turnaround", 512, "", ""},
    {"footwork_triplet", "Footwork / triplet bass reply", 512, "", ""},
    {"footwork_sparse", "Footwork / interrupted half-time", 512, "", ""},
    {"funky_toms", "UK funky / tom-led skips", 512, "", ""},
    {"funky_syncopated", "UK funky / broken response", 512, "", ""},
    {"broken_push", "Broken beat / early-and-late answers", 512, "", ""},
    {"broken_shuffle", "Broken beat / shuffled rim circuit", 512, "", ""},
    {"afro_bell", "Afro house / bell and kick weave", 512, "", ""},
    {"afro_cross", "Afro house / three-over-four percussion", 512, "", ""},
    {"gqom_space", "Gqom / broken-kick space study", 512, "", ""},
    {"gqom_exchange", "Gqom / staggered drum exchange", 512, "", ""},
    {"baile_toms", "Baile funk / low-drum conversation", 512, "", "bounce step"},
    {"baile_response", "Baile funk / syncopated answer", 512, "", ""},
    {"reggae_one_drop", "Reggae / one-drop foundation", 512, "", ""},
    {"reggae_steppers", "Dub / steppers foundation", 512, "", ""},
    {"reggae_rockers", "Reggae / kick-on-one-and-three study", 512, "", ""},
    {"son_clave_32", "Latin club / 3-2 son clave", 512, "", ""},
    {"son_clave_23", "Latin club / 2-3 son clave", 512, "", ""},
    {"psy_rolling", "Psy / straight rolling bass gaps", 512, "", ""},
    {"psy_offbeat", "Trance / offbeat bass exchange", 512, "", ""},
    {"hard_reverse", "Hard dance / delayed bass swell cues", 512, "", ""},
    {"italo_machine", "Italo / machine rim conversation", 512, "", ""},
    {"electro_robot", "Electro / asymmetric machine break", 512, "", ""},
    {"acid_percussion", "Acid house / syncopated machine accents", 512, "", ""},
    {"techno_rumble", "Techno / delayed low-end answer", 512, "", ""},
    {"ukg_rim_shuffle", "Garage / rim-led skipping pocket", 512, "", ""},
    {"dnb_push", "DnB / kick pickup and ghost reply", 512, "", ""},
    {"jungle_switchback", "Jungle / two-bar switchback", 512, "", ""},
    {"amapiano_answer", "Amapiano / log-like bass answer", 512, "", ""},
    {"dancehall_space", "Dancehall / spacious offbeat replies", 512, "", ""},
    {"dembow_push", "Reggaeton / dembow with pickup answer", 512, "", ""},
};

struct Motion {
  std::string_view key;
  std::string_view title;
  std::string_view dancefloor_title;  // empty where the title is the same in both packs
  std::string_view closing;           // closing sentence in the dancefloor pack
};

constexpr Motion kMotions[] = {
    {"bounce", "Kick-led bounce", "", "Original Club 05 kick-led downstroke and side accents."},
    {"step", "Snare side-step", "", "Original Club 05 alternating lateral kick and snare gestures."},
    {"orbit", "Percussion orbit", "",
     "Original Club 05 event-weighted orbital speed, radius and depth."},
    {"glide", "Bass-and-phrase glide", "Bass / phrase glide",
     "Original Club 05 continuous phrase path with bass excursions."},
    {"surge", "Forward surge", "", "Kick thrust through depth with contrasting snare lift and hat detail."},
    {"recoil", "Backbeat recoil", "", "Snare pushes sideways; kick counters downward; delayed echo draws back."},
    {"flutter", "Upper-percussion flutter", "", "Hat and shaker tremors over a wider kick/snare arc."},
    {"dive", "Bass-led dive", "", "Bass drives a broad depth plunge with alternating drum counterweight."},
    {"pendulum", "Weighted pendulum", "", "A hanging arc whose amplitude and angular speed respond to the score."},
    {"figure8", "Woven figure eight", "", "Two crossing lobes expand at kicks with a lifted snare crossing."},
    {"box", "Rounded corner tour", "", "Rhythm-weighted phase travels around four softened corners."},
    {"corkscrew", "Closed corkscrew", "", "Two orbital turns ride a depth wave with percussion-driven radius."},
    {"spiral", "Breathing spiral", "", "A contracting and expanding double-turn path with a continuous seam."},
    {"slalom", "Drum slalom", "", "S-shaped travel with kick lift, snare cutbacks and depth counter-motion."},
    {"spring", "Causal spring", "", "An event starts at rest, then drives a damped ringing excursion."},
    {"ricochet", "Directional ricochet", "",
     "Successive onsets send smooth excursions toward a cyclic series of targets."},
};

// ---------------------------------------------------------------------------
// Composition.

// Splits `text` at `separator`, dropping empty pieces.
std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  while (!text.empty()) {
    const std::size_t end = text.find(separator);
    const std::string_view piece = text.substr(0, end);
    if (!piece.empty()) pieces.push_back(piece);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return pieces;
}

bool contains_word(std::string_view words, std::string_view word) {
  for (std::string_view candidate : split(words, ' ')) {
    if (candidate == word) return true;
  }
  return false;
}

int period_of(const PeriodRule& rule, std::string_view member) {
  const std::vector<int> numbers = member_numbers(member);
  switch (rule.from) {
    case PeriodFrom::fixed:
      return rule.pips;
    case PeriodFrom::last_number:
      return kPipsPerEighth * numbers.back();
    case PeriodFrom::number_sum: {
      int eighths = 0;
      for (int n : numbers) eighths += n;
      return kPipsPerEighth * eighths;
    }
  }
  throw std::logic_error("unknown period rule");
}

std::string_view title_of(std::string_view family, std::size_t member_index) {
  for (const Titles& row : kTitles) {
    if (row.family == family) return split(row.titles, '|').at(member_index);
  }
  return {};
}

// Fills the {title}, {word}, {last}, {a} and {b} fields of a description.
std::string describe(std::string_view text, std::string_view member, std::string_view title) {
  const std::vector<std::string_view> words = split(member, '_');
  const std::vector<int> numbers = member_numbers(member);
  std::string out;
  while (!text.empty()) {
    const std::size_t open = text.find('{');
    out += text.substr(0, open);
    if (open == std::string_view::npos) break;
    const std::size_t close = text.find('}', open);
    const std::string_view field = text.substr(open + 1, close - open - 1);
    if (field == "title") out += title;
    else if (field == "word") out += words.front();
    else if (field == "last") out += words.back();
    else if (field == "a") out += std::to_string(numbers.at(0));
    else if (field == "b") out += std::to_string(numbers.at(1));
    else throw std::logic_error("unknown description field: " + std::string(field));
    text.remove_prefix(close + 1);
  }
  return out;
}

Entry listed_entry(std::string_view pack, const Listed& row) {
  const std::size_t underscore = row.name.find('_');
  return {pack, row.name.substr(0, underscore), row.name.substr(underscore + 1),
          std::string(row.name), std::string(row.description), row.period, row.dimensions};
}

void add_family(std::vector<Entry>& entries, const Family& family) {
  const std::vector<std::string_view> members = split(family.members, ' ');
  for (std::size_t i = 0; i < members.size(); ++i) {
    const std::string_view member = members[i];
    const bool alternate = !family.alternate.word.empty() &&
                           split(member, '_').front() == family.alternate.word;
    const std::string_view text = alternate ? family.alternate.description : family.description;
    const bool other_axes = contains_word(family.axes.others, member);
    entries.push_back({family.pack, family.word, member,
                       std::string(family.word) + "_" + std::string(member),
                       describe(text, member, title_of(family.word, i)),
                       period_of(family.period, member),
                       other_axes ? family.axes.other_dimensions : family.axes.dimensions});
  }
}

// Keeps composed member texts alive for the views the entries hold.
std::string_view keep(std::string text) {
  static std::deque<std::string> kept;
  return kept.emplace_back(std::move(text));
}

Entry beat_entry(std::string_view pack, int genre_row, int motion_row) {
  const Genre& genre = kGenres[genre_row];
  const Motion& motion = kMotions[motion_row];
  const bool club = pack == "club";
  const std::string_view title =
      club || motion.dancefloor_title.empty() ? motion.title : motion.dancefloor_title;
  const std::string_view closing = club ? genre.club_note : motion.closing;
  const std::string_view member =
      keep(std::string(genre.key) + "_" + std::string(motion.key));
  return {pack,
          "beat",
          member,
          "beat_" + std::string(member),
          std::string(genre.title) + " \u2014 " + std::string(title) + ". " + std::string(closing),
          genre.period,
          contains_word(genre.flat_motions, motion.key) ? 2 : 3,
          genre_row,
          motion_row};
}

}  // namespace

std::vector<int> member_numbers(std::string_view member) {
  std::vector<int> numbers;
  for (std::string_view part : split(member, '_')) {
    int value = 0;
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (error == std::errc{} && end == part.data() + part.size()) numbers.push_back(value);
  }
  return numbers;
}

std::vector<Entry> vocabulary() {
  std::vector<Entry> entries;
  for (const Listed& row : kInitial) entries.push_back(listed_entry("initial", row));
  for (const Listed& row : kExpansion) entries.push_back(listed_entry("expansion", row));
  for (const Family& family : kFamilies) add_family(entries, family);

  constexpr int genres = static_cast<int>(std::size(kGenres));
  constexpr int motions = static_cast<int>(std::size(kMotions));
  for (int g = 0; g < kClubGenres; ++g) {
    for (int m = 0; m < kClubMotions; ++m) entries.push_back(beat_entry("club", g, m));
  }
  for (int g = 0; g < kClubGenres; ++g) {
    for (int m = kClubMotions; m < motions; ++m) entries.push_back(beat_entry("dancefloor", g, m));
  }
  for (int g = kClubGenres; g < genres; ++g) {
    for (int m = 0; m < motions; ++m) entries.push_back(beat_entry("dancefloor", g, m));
  }
  return entries;
}

}  // namespace movimo_gen
