// The 68 genre scores, written as step grids: one line per drum or bass
// voice, bars separated by '|', one character per step. Most lines have
// sixteen steps to a bar (sixteenth notes); a line with another number of
// steps per bar divides the bar evenly (12: triplet eighths, 24: triplet
// sixteenths, 32: thirty-second notes, 3: three across four beats).
//
// Velocities: 'X' accent 1, 'x' normal 0.75, 'o' soft 0.5, 'g' ghost 0.25,
// '.' silent. Microtiming per line: `swing` delays every second step (the
// "e" and "a" of a sixteenth grid), `shift` moves the whole line (negative:
// played early). A genre that swings its eighth notes plays every onset on
// the "and" of a beat late, in all its lines (kEighthSwing).

#include "beat_scores.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "units.h"

namespace movimo_gen {
namespace {

struct Line {
  std::string_view genre;
  Lane lane;
  std::string_view steps;
  double swing = 0.0;
  double shift = 0.0;
  bool ghosts = true;  // false: the ghost notes are left out
};

constexpr Lane K = Lane::kick;
constexpr Lane S = Lane::snare;
constexpr Lane H = Lane::hat;
constexpr Lane T = Lane::tom;
constexpr Lane B = Lane::bass;

// The Amen break, four bars: ride in eighths with the crash on the "and" of
// three in bar four; ghost snares around the backbeats.
constexpr std::string_view kAmenRide =
    "x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x.|x.x.x.x.x.X.x.x.";
constexpr std::string_view kAmenSnare =
    "....X..g.g..X..g|....X..g.g..X..g|....X..g.g....X.|.g..X..g.g....X.";
constexpr std::string_view kAmenKick =
    "X.X.......Xo....|X.X.......Xo....|X.X.......X.....|..Xo......X.....";

constexpr Line kLines[] = {
    // Four kicks, nothing else.
    {"four_floor", K, "X...X...X...X..."},

    // Under a backbeat the four-floor kick is played as house plays it:
    // accented on one and three, lighter on two and four.
    {"house_classic", K, "X...x...X...x...|X...x...X...x..."},
    {"house_classic", S, "....X.......X...|....X.......X..."},
    {"house_classic", H, "..X...X...X...X.|..X...X...X...X."},

    {"house_shuffle", K, "X...x...X...x...|X...x...X...x..."},
    {"house_shuffle", S, "....X.......X...|....X.......X..."},
    {"house_shuffle", H, "gxXggxXggxXggxXg|gxXggxXggxXggxXx", 6},

    // Swung, with ghost kicks and claps turning the second bar around.
    {"house_jack", K, "X...x...X..gx...|X...x...X.g.x.gg", 7},
    {"house_jack", S, "....X.......X...|....X..g....X.g.", 7},
    {"house_jack", H, "..X.gxX...X.gxX.|..X.gxX...X.gxXx", 7},
    {"house_jack", B, "..x...x...x..x..|..x...x..x..x.x.", 7},

    {"techno_drive", K, "X...x...X...x...|X...x...X...x..."},
    {"techno_drive", S, "....X.......X...|....X.......X..."},
    {"techno_drive", H, "ggXgggXgggXgggXg|ggXgggXgggXgggXg"},
    {"techno_drive", B, ".xx..xx..xx..xx.|.xx..xx..xx..xx."},

    {"techno_toms", K, "X...x...X...x...|X...x...X...x..."},
    {"techno_toms", S, "....o.......o...|....o.......o..."},
    {"techno_toms", H, "..x...x...x...x.|..x...x...x...x."},
    {"techno_toms", T, "...X..o...X..o..|.o..X..o..X.o.o."},

    {"techno_broken", K, "X..x..X...X..x..|X.....x..X..x..."},
    {"techno_broken", S, "....X.......X...|....X.......X..."},
    {"techno_broken", H, "g.x.g.x.g.x.g.x.|g.x.g.x.g.x.g.xx"},

    // A percussion hit every three sixteenths: sixteen hits close after three bars.
    {"techno_polymeter", K, "X...x...X...x...|X...x...X...x...|X...x...X...x..."},
    {"techno_polymeter", S, "....X.......X...|....X.......X...|....X.......X..."},
    {"techno_polymeter", H, "..x...x...x...x.|..x...x...x...x.|..x...x...x...x."},
    {"techno_polymeter", T, "X..x..x..x..x..x|..x..x..x..x..x.|.x..x..x..x..x.."},

    // Backbeats on two and four, the second kick on the "and" of three.
    {"ukg_two_step", K, "X.........X.....|X.........X....."},
    {"ukg_two_step", S, "....X.......X...|....X.......X..."},
    {"ukg_two_step", H, "..x.gx.x..x.gx.x|..x.gx.x..x.gxxx", 8},

    {"ukg_skip", K, "X......x..X.....|X.....x...X..x..", 8},
    {"ukg_skip", S, "....X.......X...|....X..g....X..."},
    {"ukg_skip", H, "..x.gx.x..x.gx.x|..x.gx.x..xxgx.x", 8},
    {"ukg_skip", B, "X.........x.....|X.....x.........", 8},

    {"ukg_four_four", K, "X...x...X...x...|X...x...X...x..."},
    {"ukg_four_four", S, "....X.......X...|....X.......X..."},
    {"ukg_four_four", H, "..x.gx.x..x.gx.x|..x.gx.x..xxgx.x", 8},
    {"ukg_four_four", B, "..x...x...x...x.|..x..x....x...x.", 8},

    {"speed_garage", K, "X...x...X...x...|X...x...X...x..."},
    {"speed_garage", S, "....X.......X...|....X.......X..."},
    {"speed_garage", H, "..x.gx.x..x.gx.x|..x.gx.x..x.gxxx", 6},
    {"speed_garage", B, "..X...X...X..X..|..X...X...X..X..", 6},

    {"bassline", K, "X...x...X...x...|X...x...X...x..."},
    {"bassline", S, "....X.......X...|....X.......X..."},
    {"bassline", H, "..x...x...x...x.|..x...x...x.x.x."},
    {"bassline", B, "X..X..X...X.XX..|X..X..X.X.X..X.x"},

    {"grime_sparse", K, "X.........X.....|X.......X.x....."},
    {"grime_sparse", S, "........X.......|........X......."},
    {"grime_sparse", H, "x...x...x...x...|x...x...x...x.x."},

    {"grime_syncopated", K, "X.....x...X.....|X..x......X..x.."},
    {"grime_syncopated", S, "....X.......X..x|.....x.X....X..."},
    {"grime_syncopated", H, "x.x.x.x.x.x.x.x.|x.x.x.x.x.x.xxx."},

    {"grime_half", K, "X...............|X.........x....."},
    {"grime_half", S, "........X.......|........X......."},
    {"grime_half", H, "x.......x.......|x.......x...x..."},
    {"grime_half", B, "X.......x..x....|X.........x....."},

    // Hats grouped 3+3+2 sixteenths on a straight grid.
    {"drill_tresillo", K, "X.....x...X.....|X.....x.......x."},
    {"drill_tresillo", S, "........X.......|........X......."},
    {"drill_tresillo", H, "X..x..x.X..x..x.|X..x..x.X..x..x."},
    {"drill_tresillo", B, "X.........x.....|X.....x........."},

    // The snare on beat three of bar one and beat four of bar two.
    {"drill_displaced", K, "X.....x...x.....|X.....x..x......"},
    {"drill_displaced", S, "........X.......|............X..."},
    {"drill_displaced", H, "x..x..x.x..x..x.|x..x..x.x..x..x."},
    {"drill_displaced", B, "X.........x.....|X.....x..x......"},

    // Grouped hats, then a triplet-sixteenth roll over the last beat.
    {"drill_rolls", K, "X.....x...x.....|X.....x.......x."},
    {"drill_rolls", S, "........X.......|........X......."},
    {"drill_rolls", H, "x..x..x.x..x..x.|x..x..x.x......."},
    {"drill_rolls", H, "........................|..................xoxoxx"},
    {"drill_rolls", B, "X.........x.....|X.....x........."},

    {"amen_four_bar", K, kAmenKick},
    {"amen_four_bar", S, kAmenSnare},
    {"amen_four_bar", H, kAmenRide},
    {"amen_no_ghosts", K, kAmenKick},
    {"amen_no_ghosts", S, kAmenSnare, 0, 0, false},
    {"amen_no_ghosts", H, kAmenRide},

    {"jungle_chops", K, "X.X.......X.....|..X...X...Xo...."},
    {"jungle_chops", S, "....X..g.g..X..g|.g..X..g....X.X."},
    {"jungle_chops", H, "x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x."},

    {"jungle_ghosts", K, "X.X.......X.....|X.X.......X....."},
    {"jungle_ghosts", S, "....X.gg.g..X.gg|.g..X..g.g..Xggg"},
    {"jungle_ghosts", H, "x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x."},

    // Two bars in full time, two in half time.
    {"jungle_switch", K, "X.X.......Xo....|X.X.......X.....|X.........X.....|X.....X...X....."},
    {"jungle_switch", S, "....X..g.g..X..g|....X..g.g..X...|........X......g|.g......X......."},
    {"jungle_switch", H, "x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x."},

    {"dnb_two_step", K, "X.........X.....|X.........X....."},
    {"dnb_two_step", S, "....X.......X...|....X.......X..."},
    {"dnb_two_step", H, "x.x.x.xgx.x.x.xg|x.x.x.xgx.x.xgx."},
    {"dnb_two_step", B, "X.........x.....|X.......x.x....."},

    {"dnb_rolling", K, "X.........X.....|X.........X..x.."},
    {"dnb_rolling", S, "....X..g.g..X..g|.g..X..g.g..X.g."},
    {"dnb_rolling", H, "xgxgxgxgxgxgxgxg|xgxgxgxgxgxgxgxg"},
    {"dnb_rolling", B, "X..x......X..x..|X..x......X....x"},

    {"dnb_half", K, "X.........x.....|X......x..x....."},
    {"dnb_half", S, "........X.......|........X......."},
    {"dnb_half", H, "x.x.x.x.x.x.x.x.|x.x.x.x.x.x.xxx."},
    {"dnb_half", B, "X.........x.....|X......x........"},

    {"dubstep_half", K, "X...............|X.........x....."},
    {"dubstep_half", S, "........X.......|........X......."},
    {"dubstep_half", H, "..x...x...x...x.|..x...x...x...x."},
    {"dubstep_half", B, "X.....x.x...x...|X.......X..x.x.."},

    // Triplet hats over a skipping half-time kick.
    {"dubstep_skip", K, "X.......x..x....|X.....x....x...."},
    {"dubstep_skip", S, "........X.......|........X......g"},
    {"dubstep_skip", H, "x.xx.xx.xx.x|x.xx.xx.xx.x"},
    {"dubstep_skip", B, "X.........x.....|X.....x...x....."},

    // Eighth-note hats broken by thirty-second trills.
    {"trap_trills", K, "X......x..X.....|X.x.......X..x.."},
    {"trap_trills", S, "........X.......|........X......."},
    {"trap_trills", H, "x.x.x.x.x.x...x.|x.x.x.x.x.x....."},
    {"trap_trills", H, "........................xoxo....|........................xoxoxoxo"},
    {"trap_trills", B, "X......x..X.....|X.x.......X....."},

    {"electro", K, "X......X..X.....|X.....X...X..X.."},
    {"electro", S, "....X.......X...|....X.......X..."},
    {"electro", H, "xgxgxgxgxgxgxgxg|xgxgxgxgxgxgxgxx"},

    {"trance", K, "X...x...X...x...|X...x...X...x..."},
    {"trance", S, "....X.......X...|....X.......X..."},
    {"trance", H, "..X...X...X...X.|..X...X...X...X."},
    {"trance", B, "..X...X...X...X.|..X...X...X.x.X."},

    // A four-floor kick under a break layer of its own.
    {"rave_breaks", K, "X...x...X...x...|X...x...X...x..."},
    {"rave_breaks", K, "..x.......x.....|..x...o...x....."},
    {"rave_breaks", S, "....X..g.g..X..g|....X..g.g..X.g."},
    {"rave_breaks", H, "x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x."},

    // Quarter-note kicks; the snare answers on the "a" of one and the "and" of two.
    {"dembow", K, "X...X...X...X...|X...X...X...X..."},
    {"dembow", S, "...X..X....X..X.|...X..X....X..X."},
    {"dembow", H, "x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x."},

    {"disco", K, "X...x...X...x...|X...x...X...x..."},
    {"disco", S, "....X.......X...|....X.......X..."},
    {"disco", H, "gxXxgxXxgxXxgxXx|gxXxgxXxgxXxgxXX"},
    {"disco", B, "..x...x...x...x.|..x...x...x..xx."},

    // Shaker sixteenths, soft rims and a log-drum bass line.
    {"amapiano", K, "X.........x.....|X......x..x....."},
    {"amapiano", S, "....o.......o...|....o.......o..."},
    {"amapiano", H, "gxgxgxgxgxgxgxgx|gxgxgxgxgxgxgxgx"},
    {"amapiano", T, "..x.....x..x....|.....x.....x..x."},
    {"amapiano", B, "...X..X...X..X..|X..X....X..X.X.."},

    {"jersey_five", K, "X..X..X...X.X...|X..X..X...X.x..."},
    {"jersey_five", S, "....X.......X...|....X.......X..."},
    {"jersey_five", H, "..x...x...x...x.|..x...x...x...x."},

    {"jersey_call", K, "X..X..X...X.X...|X..X..X.X.X.X.X."},
    {"jersey_call", S, "....X.......X...|....X..x....X.x."},
    {"jersey_call", T, "..x.......x.....|.........x.x.x.x"},
    {"jersey_call", H, "..x...x...x...x.|..x...x...x...x."},

    // A bass reply on triplet eighths.
    {"footwork_triplet", K, "X..X..X...X..X..|X..X..X...X..X.g"},
    {"footwork_triplet", S, "........X.......|........X......."},
    {"footwork_triplet", H, "x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x."},
    {"footwork_triplet", B, "x..x.xx..x.x|x.xx..x.xx.x"},

    {"footwork_sparse", K, "X.....X.........|X..X............"},
    {"footwork_sparse", S, "........X.......|............X..."},
    {"footwork_sparse", H, "x...x...x...x...|x...x.......x..."},
    {"footwork_sparse", B, "X.....X.........|X..X.....x......"},

    {"funky_toms", K, "X...x...X...x...|X...x...X...x..."},
    {"funky_toms", S, "....X.......X...|....X.......X..."},
    {"funky_toms", T, "..x..x.x..x...x.|.x..x..x..x..x.x", 6},
    {"funky_toms", H, "..x.gx.x..x.gx.x|..x.gx.x..x.gx.x", 6},

    {"funky_syncopated", K, "X...x...X...x...|X...x...X..gx..."},
    {"funky_syncopated", S, "....X..x....X...|..x.X.......X.x."},
    {"funky_syncopated", T, "...x......x..x..|......x.x.....x.", 5},
    {"funky_syncopated", H, "x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x."},

    // Snare answers played early, tom answers played late.
    {"broken_push", K, "X.....X...X.....|..X...X.....x..."},
    {"broken_push", S, "....X.......X...|....X.......X..."},
    {"broken_push", S, "..x.............|..........x.....", 0, -4},
    {"broken_push", T, ".......x........|...x...........x", 0, 4},
    {"broken_push", H, "x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x."},
    {"broken_push", B, "X.....X.........|..X...X........."},

    // A swung rim circuit around the backbeat.
    {"broken_shuffle", K, "X.......X.x.....|X.....X...x....."},
    {"broken_shuffle", S, "....X.......X...|....X.......X..."},
    {"broken_shuffle", S, "..x..x.x..x..x.x|.x.x..x..x.x..x.", 6},
    {"broken_shuffle", H, "x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x."},

    {"afro_bell", K, "X...x...X...x...|X...x...X...x..."},
    {"afro_bell", S, "....o.......o...|....o.......o..."},
    {"afro_bell", H, "X.X.XX.X.X.XX.X.|X.X.XX.X.X.XX.X."},
    {"afro_bell", T, "..x..x....x..x..|..x..x....x.xx.."},

    // Three evenly spaced strokes across each bar over a triplet shaker.
    {"afro_cross", K, "X...x...X...x...|X...x...X...x..."},
    {"afro_cross", S, "....X.......X...|....X.......X..."},
    {"afro_cross", T, "XXX|XXX"},
    {"afro_cross", H, "xgxxgxxgxxgx|xgxxgxxgxxgx"},

    {"gqom_space", K, "X.....X.....X...|......X.....X..."},
    {"gqom_space", S, "........o.......|...............o"},
    {"gqom_space", T, "...x.......x....|..x.....x...x..."},
    {"gqom_space", H, "..x...x...x...x.|..x...x.......x."},

    {"gqom_exchange", K, "X..X..X.........|X..X......X....."},
    {"gqom_exchange", S, "....X.......X...|........X......."},
    {"gqom_exchange", T, "........x..x..x.|...x..x.....x..."},
    {"gqom_exchange", H, "..x...x...x...x.|..x...x...x...x."},

    {"baile_toms", K, "X..x...X..X.....|X..x...X..X..x.."},
    {"baile_toms", S, "....x.......x...|....x.......x..."},
    {"baile_toms", T, ".X..x.x...x.x..x|.x..x.x...X.x.x."},

    {"baile_response", K, "X.....X...X.....|X..X..X...X..X.."},
    {"baile_response", S, "...X..X....X..X.|...X..X....X.XX."},
    {"baile_response", T, "..x.......x.....|.x.....x..x....."},
    {"baile_response", H, "x...x...x...x...|x...x...x...x..."},

    // Kick and rim together on three only.
    {"reggae_one_drop", K, "........X.......|........X......."},
    {"reggae_one_drop", S, "........X.......|........X......."},
    {"reggae_one_drop", H, "x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x."},
    {"reggae_one_drop", B, "X...x.X.....x...|X...x.X...x.x..."},

    {"reggae_steppers", K, "X...X...X...X...|X...X...X...X..."},
    {"reggae_steppers", S, "........X.......|........X......."},
    {"reggae_steppers", H, "..x...x...x...x.|..x...x...x..xx.", 6},
    {"reggae_steppers", B, "X.x...x.x.x...x.|X.x...x.x.x.x.x."},

    {"reggae_rockers", K, "X.......X.......|X.......X......."},
    {"reggae_rockers", S, "....X.......X...|....X.......X..."},
    {"reggae_rockers", H, "x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x."},
    {"reggae_rockers", B, "X..x..x.X...x...|X..x..x.X.x.x..."},

    // Son clave on the rim lane: three-side and two-side bars.
    {"son_clave_32", K, "X...x...X...x...|X...x...X...x..."},
    {"son_clave_32", S, "X.....X.....X...|....X...X......."},
    {"son_clave_32", H, "..x...x...x...x.|..x...x...x...x."},

    {"son_clave_23", K, "X...x...X...x...|X...x...X...x..."},
    {"son_clave_23", S, "....X...X.......|X.....X.....X..."},
    {"son_clave_23", H, "..x...x...x...x.|..x...x...x...x."},

    {"psy_rolling", K, "X...x...X...x...|X...x...X...x..."},
    {"psy_rolling", S, "....X.......X...|....X.......X..."},
    {"psy_rolling", H, "g.X.g.X.g.X.g.X.|g.X.g.X.g.X.g.X."},
    {"psy_rolling", B, ".xxx.xxx.xxx.xxx|.xxx.xxx.xxx...."},

    {"psy_offbeat", K, "X...x...X...x...|X...x...X...x..."},
    {"psy_offbeat", S, "....X.......X...|....X.......X..."},
    {"psy_offbeat", H, "...x...x...x...x|...x...x...x...x"},
    {"psy_offbeat", B, "..X...X...X...X.|.x.x..X..x.x..X."},

    // The bass swells answer each kick late.
    {"hard_reverse", K, "X...x...X...x...|X...x...X...x..."},
    {"hard_reverse", S, "....X.......X...|....X.......X..."},
    {"hard_reverse", H, "..X...X...X...X.|..X...X...X.X.X."},
    {"hard_reverse", B, ".xx..xx..xx..xx.|.xx..xx..xx..xXx", 0, 6},

    {"italo_machine", K, "X...x...X...x...|X...x...X...x..."},
    {"italo_machine", S, "....X.......X...|....X.......X..."},
    {"italo_machine", S, "..x..x.x..x..x..|.x...x.x..x...x."},
    {"italo_machine", H, "ggxgggxgggxgggxg|ggxgggxgggxgggxg"},
    {"italo_machine", B, "x.X.x.X.x.X.x.X.|x.X.x.X.x.X.x.X."},

    {"electro_robot", K, "X......X..X.....|X..X......X..X.."},
    {"electro_robot", S, "....X.......X..x|....X.......X..."},
    {"electro_robot", T, "......x.......x.|..x.........x..."},
    {"electro_robot", H, "x.xxx.xxx.xxx.xx|x.xxx.xxx.xxx.xx"},

    {"acid_percussion", K, "X...x...X...x...|X...x...X...x..."},
    {"acid_percussion", S, "....X.......X...|....X.......X..."},
    {"acid_percussion", H, "..x.g.x...x.g.x.|..x.g.x.g.x.g.x."},
    {"acid_percussion", B, "o.xX.oxX.ox.xo.X|o.xX.oxX.oxXo.xX"},

    // The rumble answers each kick a little late.
    {"techno_rumble", K, "X...x...X...x...|X...x...X...x..."},
    {"techno_rumble", S, "....o.......o...|....o.......o..."},
    {"techno_rumble", H, "g.x.g.x.g.x.g.x.|g.x.g.x.g.x.g.xx"},
    {"techno_rumble", B, ".xx..xx..xx..xx.|.xx..xx..xx..xx.", 0, 3},

    {"ukg_rim_shuffle", K, "X.........X.....|X......x..X.....", 8},
    {"ukg_rim_shuffle", S, "....X.......X...|....X.......X..."},
    {"ukg_rim_shuffle", S, "...x..x....x..x.|..x..x.x...x..x.", 8},
    {"ukg_rim_shuffle", H, "..x...x...x...x.|..x...x...x.x.x.", 8},

    {"dnb_push", K, "X.........X....g|X.........X..x.g"},
    {"dnb_push", S, "....X.......X..g|.g..X..g....X.g."},
    {"dnb_push", H, "x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x."},
    {"dnb_push", B, "X.........X.....|X.........X....."},

    {"jungle_switchback", K, "X.X.......Xo....|X.........X....."},
    {"jungle_switchback", S, "....X..g.g..X..g|........X......g"},
    {"jungle_switchback", H, "x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x."},

    {"amapiano_answer", K, "X...x...X...x...|X...x...X...x..."},
    {"amapiano_answer", S, "....o.......o...|....o.......o..."},
    {"amapiano_answer", H, "gxgxgxgxgxgxgxgx|gxgxgxgxgxgxgxgx"},
    {"amapiano_answer", B, "..X..X.....X.X..|.X...X..X...X.X."},

    {"dancehall_space", K, "X.......X.......|X.......X.....x."},
    {"dancehall_space", S, "..x.......x.....|..x.....x...x..."},
    {"dancehall_space", H, "x...x...x...x...|x...x...x...x..."},
    {"dancehall_space", B, "X.....x.........|X.....x...x....."},

    {"dembow_push", K, "X...X...X...X...|X...X...X...X.x."},
    {"dembow_push", S, "...X..X....X..X.|...X..X....X.XX."},
    {"dembow_push", H, "x.x.x.x.x.x.x.x.|x.x.x.x.x.x.x.x."},
};

// Genres whose eighth notes swing, and how late their "and" falls, in pips:
// a straight "and" sits 32 pips into the beat, a triplet one 42.67.
struct EighthSwing {
  std::string_view genre;
  double delay;
};
constexpr EighthSwing kEighthSwing[] = {
    {"reggae_one_drop", 10},   // lazy, close to triplets
    {"reggae_rockers", 8},
    {"broken_shuffle", 10},    // a shuffle: nearly triplets
    {"funky_syncopated", 6},   // a light lilt
};

double eighth_swing(std::string_view genre) {
  for (const EighthSwing& swing : kEighthSwing) {
    if (swing.genre == genre) return swing.delay;
  }
  return 0.0;
}

constexpr double kGhost = 0.25;

// Velocity of a step character; 0 for a silent step.
double velocity_of(char step) {
  switch (step) {
    case 'X': return 1.0;
    case 'x': return 0.75;
    case 'o': return 0.5;
    case 'g': return kGhost;
    case '.': return 0.0;
    default: throw std::logic_error(std::string("beat score: unknown step '") + step + "'");
  }
}

// Splits a line into its bars, all of the same number of steps.
std::vector<std::string_view> bars_of(const Line& line) {
  std::vector<std::string_view> bars;
  std::string_view rest = line.steps;
  for (std::size_t bar = rest.find('|'); bar != std::string_view::npos; bar = rest.find('|')) {
    bars.push_back(rest.substr(0, bar));
    rest.remove_prefix(bar + 1);
  }
  bars.push_back(rest);
  for (std::string_view bar : bars) {
    if (bar.size() != bars.front().size() || bar.empty()) {
      throw std::logic_error("beat score " + std::string(line.genre) + ": uneven bars");
    }
  }
  return bars;
}

void add_line(const Line& line, int period, std::vector<Onset>& onsets) {
  const std::vector<std::string_view> bars = bars_of(line);
  if (static_cast<double>(bars.size()) * kBar != period) {
    throw std::logic_error("beat score " + std::string(line.genre) + ": bars do not fill the period");
  }
  const double eighth_delay = eighth_swing(line.genre);
  for (std::size_t bar = 0; bar < bars.size(); ++bar) {
    const double step = kBar / static_cast<double>(bars[bar].size());
    for (std::size_t i = 0; i < bars[bar].size(); ++i) {
      const double velocity = velocity_of(bars[bar][i]);
      if (velocity == 0.0 || (!line.ghosts && velocity == kGhost)) continue;
      const double place = static_cast<double>(i) * step;
      double swing = i % 2 == 1 ? line.swing : 0.0;
      if (std::fmod(place, kBeat) == kBeat / 2.0) swing += eighth_delay;
      double pip = static_cast<double>(bar) * kBar + place + swing + line.shift;
      pip = std::fmod(pip + period, static_cast<double>(period));
      onsets.push_back({pip, line.lane, velocity, 0});
    }
  }
}

// Sorts the onsets into time order and counts each lane's turns.
void order_onsets(std::string_view genre, std::vector<Onset>& onsets) {
  std::sort(onsets.begin(), onsets.end(), [](const Onset& a, const Onset& b) {
    return a.pip != b.pip ? a.pip < b.pip : a.lane < b.lane;
  });
  int turns[kLaneCount] = {};
  for (std::size_t i = 0; i < onsets.size(); ++i) {
    if (i > 0 && onsets[i].pip == onsets[i - 1].pip && onsets[i].lane == onsets[i - 1].lane) {
      throw std::logic_error("beat score " + std::string(genre) + ": two onsets of a lane at one pip");
    }
    onsets[i].turn = turns[static_cast<int>(onsets[i].lane)]++;
  }
}

}  // namespace

Score genre_score(std::string_view key, int period) {
  Score score{period, {}};
  for (const Line& line : kLines) {
    if (line.genre == key) add_line(line, period, score.onsets);
  }
  if (score.onsets.empty()) throw std::logic_error("beat score: no score for genre " + std::string(key));
  order_onsets(key, score.onsets);
  return score;
}

}  // namespace movimo_gen
