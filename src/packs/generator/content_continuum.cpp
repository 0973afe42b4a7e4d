// Authored tables of the continuum pack: each family's function draws its
// members (continuum_shapes.cpp, continuum_routes.cpp, continuum_scores.cpp).

#include <array>

#include "content.h"
#include "continuum.h"

namespace movimo_gen {
namespace {

constexpr std::array<FamilyAuthor, 20> kFamilies{{
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

Table author_continuum(const Entry& entry) { return draw_by_family(kFamilies, entry); }

}  // namespace movimo_gen
