// Tables of the club and dancefloor (beat_) patterns: every genre's score
// danced in every motion. A motion's shaped contributions are scaled per
// axis by one gain, found over all 68 genres at once, so that the motion's
// largest excursion on each axis is its peak; so every table of a motion is
// built the first time any of them is asked for.

#include <cmath>
#include <map>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "beat_motions.h"
#include "beat_scores.h"
#include "content.h"
#include "vocabulary.h"

namespace movimo_gen {
namespace {

using Axis = double Row::*;
constexpr Axis kAxes[] = {&Row::x, &Row::y, &Row::z};

// A motion drawn for every genre: the entries and their parts, alike indexed.
struct MotionDrawings {
  std::vector<const Entry*> entries;
  std::vector<MotionParts> parts;
};

// The genre of a beat_ member "<genre>_<motion>".
std::string_view genre_key(const Entry& entry, std::string_view motion) {
  const std::string_view member = entry.member;
  const std::size_t genre_length = member.size() - motion.size() - 1;
  if (member.size() <= motion.size() || !member.ends_with(motion) || member[genre_length] != '_') {
    throw std::logic_error("beat pattern " + entry.name + " is not danced in motion " + std::string(motion));
  }
  return member.substr(0, genre_length);
}

MotionParts draw(const Entry& entry, const Motion& motion) {
  MotionParts parts = motion.draw(genre_score(genre_key(entry, motion.key), entry.period));
  if (entry.dimensions == 2) {
    for (Row& row : parts.fixed) row.z = 0.0;
    for (Row& row : parts.shaped) row.z = 0.0;
  }
  return parts;
}

double largest(const std::vector<MotionParts>& all, Axis axis, double gain) {
  double top = 0.0;
  for (const MotionParts& parts : all) {
    for (std::size_t p = 0; p < parts.fixed.size(); ++p) {
      top = std::fmax(top, std::fabs(parts.fixed[p].*axis + gain * parts.shaped[p].*axis));
    }
  }
  return top;
}

// The largest gain that keeps the axis within `peak` over all genres. The
// largest magnitude is a convex function of the gain, so where the fixed
// contributions stay below the peak there is one gain that reaches it.
double gain_for_peak(const std::vector<MotionParts>& all, Axis axis, double peak,
                     std::string_view motion) {
  if (largest(all, axis, 0.0) > peak) {
    throw std::logic_error("beat motion " + std::string(motion) + ": fixed contributions pass the peak");
  }
  double below = 0.0;
  double above = 1.0;
  while (largest(all, axis, above) <= peak) {
    if (above > 1e9) return 0.0;  // nothing shaped on this axis
    above *= 2.0;
  }
  for (;;) {
    const double middle = below + (above - below) / 2.0;
    if (middle == below || middle == above) return below;
    (largest(all, axis, middle) <= peak ? below : above) = middle;
  }
}

Table combined(const MotionParts& parts, const Row& gain) {
  Table table(parts.fixed.size());
  for (std::size_t p = 0; p < table.size(); ++p) {
    for (Axis axis : kAxes) table[p].*axis = parts.fixed[p].*axis + gain.*axis * parts.shaped[p].*axis;
  }
  return table;
}

std::map<std::string, Table, std::less<>> build_beat_tables() {
  const std::span<const Motion> motions = beat_motions();
  std::vector<Entry> entries = vocabulary();
  std::vector<MotionDrawings> drawings(motions.size());
  for (const Entry& entry : entries) {
    if (entry.family != "beat") continue;
    MotionDrawings& drawing = drawings.at(static_cast<std::size_t>(entry.motion));
    drawing.entries.push_back(&entry);
    drawing.parts.push_back(draw(entry, motions[static_cast<std::size_t>(entry.motion)]));
  }
  std::map<std::string, Table, std::less<>> tables;
  for (std::size_t m = 0; m < motions.size(); ++m) {
    const MotionDrawings& drawing = drawings[m];
    Row gain;
    for (Axis axis : kAxes) gain.*axis = gain_for_peak(drawing.parts, axis, motions[m].peak.*axis, motions[m].key);
    for (std::size_t i = 0; i < drawing.entries.size(); ++i) {
      tables.emplace(drawing.entries[i]->name, combined(drawing.parts[i], gain));
    }
  }
  return tables;
}

}  // namespace

Table author_beat(const Entry& entry) {
  static const std::map<std::string, Table, std::less<>> tables = build_beat_tables();
  const auto found = tables.find(entry.name);
  if (found == tables.end()) throw std::logic_error("no beat table for " + entry.name);
  return found->second;
}

}  // namespace movimo_gen
