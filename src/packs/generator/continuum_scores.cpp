// Continuum families that are event scores on rational beat positions. Each
// family lists its onsets and pushes; render_score() shapes every onset over
// a fixed share of the time around it, so the family's share of rows at
// rest is 1 minus that share whatever the member's density.

#include <array>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "continuum.h"

namespace movimo_gen::continuum {
namespace {

Row times(const Row& push, double gain) { return {push.x * gain, push.y * gain, push.z * gain}; }

Row mirrored(const Row& push) { return {-push.x, push.y, -push.z}; }

// A note of a motif: its position in beats as a fraction and its accent.
struct Note {
  int numerator;
  int denominator;
  double accent;
  char side;  // 'L' or 'R'
};

double beats(const Note& note) { return static_cast<double>(note.numerator) / note.denominator; }

constexpr double kHalf = 4 * kBeat;  // four beats: half of a 512-pip loop

// Eight motifs within four beats, on the half-beat grid, so that the
// canon's delays (a third of a beat, a beat and a third) keep every
// follower a sixth of a beat clear of the motif's notes.
constexpr std::array<std::array<Note, 5>, 8> kMotifs{{
    {{{0, 1, 1.0, 'R'}, {1, 2, 0.6, 'L'}, {3, 2, 0.8, 'R'},
      {2, 1, 0.6, 'L'}, {5, 2, 0.7, 'R'}}},
    {{{0, 1, 1.0, 'L'}, {1, 1, 0.7, 'R'}, {3, 2, 0.6, 'L'},
      {5, 2, 0.8, 'R'}, {3, 1, 0.6, 'L'}}},
    {{{0, 1, 1.0, 'R'}, {1, 1, 0.7, 'R'}, {3, 2, 0.6, 'L'},
      {5, 2, 0.8, 'L'}, {7, 2, 0.6, 'R'}}},
    {{{0, 1, 1.0, 'L'}, {1, 2, 0.6, 'L'}, {3, 2, 0.8, 'R'},
      {2, 1, 0.6, 'R'}, {3, 1, 0.7, 'L'}}},
    {{{0, 1, 1.0, 'R'}, {1, 2, 0.8, 'L'}, {1, 1, 0.6, 'R'},
      {2, 1, 0.7, 'L'}, {7, 2, 0.6, 'R'}}},
    {{{0, 1, 1.0, 'L'}, {1, 2, 0.7, 'R'}, {2, 1, 0.6, 'L'},
      {5, 2, 0.6, 'R'}, {3, 1, 0.8, 'L'}}},
    {{{0, 1, 1.0, 'R'}, {1, 1, 0.7, 'L'}, {2, 1, 0.6, 'R'},
      {5, 2, 0.6, 'L'}, {7, 2, 0.8, 'R'}}},
    {{{0, 1, 1.0, 'L'}, {3, 2, 0.6, 'R'}, {2, 1, 0.8, 'L'},
      {3, 1, 0.7, 'R'}, {7, 2, 0.6, 'L'}}},
}};

}  // namespace

// The motif leads in the lateral lane and is followed in the depth lane a
// third of a beat later (close) or a beat and a third later (late); after
// four beats the depth lane leads and the lateral answer comes mirrored and
// softer, and stops short of the last quarter beat so that the downbeat
// enters from rest.
Table canon(const Entry& entry) {
  constexpr Row kLateral{0.279, -0.1555, 0.0};
  constexpr Row kDepthLane{0.0, -0.3109, 0.258};
  constexpr double kAnswer = 0.75;
  const std::size_t motif = member_index(entry.member);
  const double delay = (entry.member.ends_with("late") ? 4.0 / 3.0 : 1.0 / 3.0) * kBeat;
  std::vector<Onset> onsets;
  for (const Note& note : kMotifs.at(motif)) {
    const double at = beats(note) * kBeat;
    const Row lateral = note.side == 'L' ? mirrored(kLateral) : kLateral;
    onsets.push_back({at, times(lateral, note.accent)});
    onsets.push_back({at + delay, times(kDepthLane, note.accent)});
    onsets.push_back({kHalf + at, times(kDepthLane, note.accent)});
    if (kHalf + at + delay < 2 * kHalf - kBeat / 4) {
      onsets.push_back({kHalf + at + delay, times(mirrored(lateral), kAnswer * note.accent)});
    }
  }
  return render_score(entry.period, onsets, 0.67);
}

// A call to the left with echoes decaying to a quarter of it, then at the
// half an answer down and forward with the same echoes. The words set the
// echo spacing, in exact fractions of a beat: regular, two beats shared
// evenly; shrinking by two-thirds each, from a fifth of a beat per echo;
// expanding by three-halves each, from a beat over the count; crossed,
// regular with alternating sides.
Table echo(const Entry& entry) {
  constexpr Row kCall{-0.31, -0.04, 0.0};
  constexpr Row kAnswer{0.06, -0.2656, 0.2202};
  constexpr double kLast = 0.25;  // the last echo's share of its call
  const int count = member_numbers(entry.member)[0];
  const double decay = std::pow(kLast, 1.0 / (count - 1));
  const std::string_view word = member_word(entry.member);
  std::vector<Onset> onsets;
  for (const auto& [start, push] : {std::pair{0.0, kCall}, std::pair{kHalf, kAnswer}}) {
    double at = start;
    double gap = word == "shrinking"   ? count / 5.0
                 : word == "expanding" ? 1.0 / count
                                       : 2.0 / count;
    double gain = 1.0;
    for (int i = 0; i < count; ++i) {
      const bool crossed = word == "crossed" && i % 2 == 1;
      onsets.push_back({at, times(crossed ? mirrored(push) : push, gain)});
      at += gap * kBeat;
      gain *= decay;
      if (word == "shrinking") gap *= 2.0 / 3.0;
      if (word == "expanding") gap *= 1.5;
    }
  }
  return render_score(entry.period, onsets, 0.35);
}

// Four two-beat regions, each divided evenly by its number; the first event
// of a region is accented in the region's own direction (down, left,
// forward, right) and the rest tick lightly from side to side.
Table ladder(const Entry& entry) {
  constexpr std::array<Row, 4> kAccents{
      {{0.0, -0.32, 0.08}, {-0.31, -0.08, 0.0}, {0.0, -0.08, 0.32}, {0.31, -0.08, 0.0}}};
  constexpr Row kTick{0.093, -0.064, 0.048};
  constexpr double kRegion = 2 * kBeat;
  const std::vector<int> counts = member_numbers(entry.member);
  std::vector<Onset> onsets;
  for (std::size_t r = 0; r < counts.size(); ++r) {
    for (int i = 0; i < counts[r]; ++i) {
      const double at = kRegion * r + kRegion * i / counts[r];
      onsets.push_back({at, i == 0 ? kAccents.at(r) : i % 2 == 0 ? kTick : mirrored(kTick)});
    }
  }
  return render_score(entry.period, onsets, 0.65);
}

namespace {

// Sixteen eighth-note words, 1 an accent and 0 its complement.
constexpr std::array<std::string_view, 16> kNecklaces{
    "1001001000100100", "1010010100100101", "1100100110010010", "1001010010100100",
    "1000100101001001", "1101001001010010", "1001001001001010", "1010100100101001",
    "1100010100110100", "1001101001000101", "1010010011001001", "1000101010010110",
    "1101010010010100", "1001000100100111", "1011001001001001", "1000110100101010",
};

}  // namespace

// Accents move right and their complement left, more softly; an accent that
// follows a complement (a rising edge of the cyclic word) also reaches
// forward.
Table necklace(const Entry& entry) {
  constexpr Row kAccent{0.248, -0.096, 0.0};
  constexpr Row kComplement{-0.1488, -0.0576, 0.0};
  constexpr double kRising = 0.1592;  // depth of a rising accent
  const std::string_view word = kNecklaces.at(member_index(entry.member));
  std::vector<Onset> onsets;
  for (std::size_t i = 0; i < word.size(); ++i) {
    const bool accent = word[i] == '1';
    const bool rising = accent && word[(i + word.size() - 1) % word.size()] == '0';
    Row push = accent ? kAccent : kComplement;
    if (rising) push.z = kRising;
    onsets.push_back({static_cast<double>(i) * kBeat / 2, push});
  }
  return render_score(entry.period, onsets, 0.72);
}

// Four bars of a pulses each; in bar m the motif's first accent falls on
// pulse m·b and its second two pulses later, so the pair walks through the
// bars while the pulse spacing stays.
Table accent(const Entry& entry) {
  constexpr Row kFirst{0.3139, -0.1185, 0.0768};
  constexpr Row kSecond{-0.2197, -0.0711, 0.1536};
  constexpr Row kPulse{0.0471, -0.0474, 0.0};
  const std::vector<int> ab = member_numbers(entry.member);
  const int pulses = ab[0];
  std::vector<Onset> onsets;
  for (int bar = 0; bar < 4; ++bar) {
    const int first = bar * ab[1] % pulses;
    const int second = (first + 2) % pulses;
    for (int i = 0; i < pulses; ++i) {
      const Row pulse = i % 2 == 0 ? kPulse : mirrored(kPulse);
      const Row push = i == first ? kFirst : i == second ? kSecond : pulse;
      onsets.push_back({kBar * bar + kBar * i / pulses, push});
    }
  }
  return render_score(entry.period, onsets, 0.72);
}

namespace {

// Which triplet eighths of four beats sound (1) and which are left out.
constexpr std::array<std::string_view, 8> kTripletMasks{
    "101110011101", "110101110110", "100111101011", "111011010101",
    "101101110011", "110110101101", "100101111010", "111010110101",
};

}  // namespace

// Triplet eighths over eight beats: the beat moves to alternating sides, the
// second triplet back across, the third forward. The first four beats play
// the member's mask. After them an answer member plays the mask again and
// answers every gap off the grid, on the next straight sixteenth; a
// turnaround member rotates the mask by one triplet.
Table triplet(const Entry& entry) {
  constexpr std::array<Row, 3> kSlots{
      {{0.2945, -0.192, 0.0}, {-0.1767, -0.0768, 0.0829}, {0.0, -0.1152, 0.1243}}};
  constexpr Row kAnswer{0.0, 0.0864, 0.2072};
  const std::string_view mask = kTripletMasks.at(member_index(entry.member));
  const bool turnaround = entry.member.ends_with("turnaround");
  const std::size_t length = mask.size();
  std::vector<Onset> onsets;
  for (std::size_t k = 0; k < 2 * length; ++k) {
    const bool second_half = k >= length;
    const std::size_t slot = k % length;
    const bool sounds = mask[second_half && turnaround ? (slot + 1) % length : slot] == '1';
    const std::size_t beat = k / 3;
    const double at = kBeat * beat + kBeat * (k % 3) / 3;
    if (sounds) {
      const Row push = kSlots[k % 3];
      onsets.push_back({at, beat % 2 == 0 ? push : mirrored(push)});
    } else if (second_half && !turnaround) {
      onsets.push_back({kBeat * beat + kBeat / 4 * (k % 3 + 1), kAnswer});
    }
  }
  return render_score(entry.period, onsets, 0.53);
}

// Groups of eighth notes, their lengths the member's numbers, turn through
// left, right, down and forward; a group's later notes reach 0.55 of its
// first, and a light pickup leads each group by a sixteenth.
Table dialogue(const Entry& entry) {
  constexpr std::array<Row, 4> kDirections{
      {{-0.31, 0.0, 0.0}, {0.29, 0.0, 0.0}, {0.0, -0.32, 0.12}, {0.0, -0.12, 0.32}}};
  constexpr Row kPickup{-0.018, 0.135, -0.0405};
  constexpr double kLater = 0.55;
  const std::vector<int> groups = member_numbers(entry.member);
  std::vector<Onset> onsets;
  double start = 0.0;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    onsets.push_back({start - kEighth / 2, kPickup});
    for (int i = 0; i < groups[g]; ++i) {
      onsets.push_back({start + kEighth * i, times(kDirections.at(g), i == 0 ? 1.0 : kLater)});
    }
    start += kEighth * groups[g];
  }
  if (start != entry.period) throw std::logic_error("Groups do not fill the loop: " + entry.name);
  return render_score(entry.period, onsets, 0.8);
}

// Three bursts from pips 0, 160 and 320 move left, down (and forward) and
// right, each dividing two beats by its number and fading after its first
// event; a settling accent lifts at pip 496.
Table burst(const Entry& entry) {
  constexpr std::array<double, 3> kStarts{0.0, 160.0, 320.0};
  constexpr std::array<Row, 3> kDirections{
      {{-0.279, -0.0432, 0.0}, {0.0, -0.288, 0.1891}, {0.279, -0.0432, 0.0}}};
  constexpr Onset kSettle{496.0, {0.0, 0.24, 0.0}};
  constexpr double kLater = 0.7;
  const std::vector<int> counts = member_numbers(entry.member);
  std::vector<Onset> onsets{kSettle};
  for (std::size_t b = 0; b < kStarts.size(); ++b) {
    for (int i = 0; i < counts.at(b); ++i) {
      const double at = kStarts[b] + 2 * kBeat * i / counts[b];
      onsets.push_back({at, times(kDirections[b], i == 0 ? 1.0 : kLater)});
    }
  }
  return render_score(entry.period, onsets, 0.47);
}

}  // namespace movimo_gen::continuum
