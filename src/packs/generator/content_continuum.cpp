// Authored tables of the continuum pack: each family's function draws its
// members (continuum_shapes.cpp, continuum_routes.cpp, continuum_scores.cpp).

#include <array>
#include <stdexcept>
#include <string_view>

#include "content.h"
#include "continuum.h"

namespace movimo_gen {
namespace {

struct Family {
  std::string_view word;
  Table (*draw)(const Entry&);
};

constexpr std::array<Family, 20> kFamilies{{
    {"ribbon", continuum::ribbon}, {"contour", continuum::contour},
    {"silhouette", continuum::silhouette}, {"spline", continuum::spline},
    {"tour", continuum::tour}, {"scan", continuum::scan},
    {"reach", continuum::reach}, {"surface", continuum::surface},
    {"braid", continuum::braid}, {"arm", continuum::arm},
    {"dwell", continuum::dwell}, {"packet", continuum::packet},
    {"canon", continuum::canon}, {"echo", continuum::echo},
    {"ladder", continuum::ladder}, {"necklace", continuum::necklace},
    {"accent", continuum::accent}, {"triplet", continuum::triplet},
    {"dialogue", continuum::dialogue}, {"burst", continuum::burst},
}};

}  // namespace

Table author_continuum(const Entry& entry) {
  for (const Family& family : kFamilies) {
    if (family.word == entry.family) return family.draw(entry);
  }
  throw std::invalid_argument("Unknown continuum family: " + entry.name);
}

}  // namespace movimo_gen
