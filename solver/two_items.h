// Closed form for a two-item chain (a root and one bending joint): the end point moves on a
// circle about the joint's axis, so the bend fraction for a distance follows from the law of
// cosines.
#ifndef TARSEL_SOLVER_TWO_ITEMS_H
#define TARSEL_SOLVER_TWO_ITEMS_H

#include <vector>

#include "solver/chain_end.h"
#include "solver/records.h"

// Fills *record for a two-item chain and writes the admissible bend-fraction range, the shortest
// and longest end distances and the fractions where they occur. record->valid must be false on
// entry; on any early return it stays false and the outputs are left untouched.
void two_item_setup(double* s_lo, double* s_hi, double* shortest, double* s_near, double* longest,
                    double* s_far, const std::vector<Work>& works, double s_min,
                    c_2items_ik* record);

// Bend fraction whose chain end lies at `distance` from the root: closed form when the record is
// valid, else bisection between s_near (too short) and s_far (too long), stopping when the two are
// within `tolerance` or after 1000 halvings. `ends`, when given for `works`, serves the chain-end
// evaluations.
double fraction_for_distance(double s_min, double s_lo, double s_hi, double s_near, double s_far,
                             double tolerance, double distance, const c_2items_ik& record,
                             const std::vector<Work>& works, Chain_ends* ends = nullptr);

// Most halvings the bisection makes.
constexpr int bisection_limit = 1000;

#endif
