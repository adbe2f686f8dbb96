// Forward evaluation of the chain for a bend fraction, and the joint angles of that bend.
#ifndef TARSEL_SOLVER_CHAIN_END_H
#define TARSEL_SOLVER_CHAIN_END_H

#include <vector>

#include "la3d/vk_3dla.h"
#include "solver/records.h"

// The joint's channel angle for a bend of theta (rad), clamped to the channel's limits when they
// are set, and mirrored for a flipped joint.
double clamp_joint_angle(double theta, const Work& w);

// The chain's end point for the bend fraction s, in the frame of works[0] (without the first
// joint's own bend and pivot rotation). The chain must not be empty. No heap use.
vk_3dla::vec3 chain_end(const std::vector<Work>& works, double s);

// Resizes *out to works.size() and writes each joint's clamped channel angle for the bend s.
void joint_angles(std::vector<double>* out, double s, const std::vector<Work>& works);

#endif
