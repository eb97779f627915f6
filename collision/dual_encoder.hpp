// The dual-encoder detector's servo-cycle entry, for the dynamics block.
#pragma once

namespace kxmc {
namespace detail {

// Six detector steps on this cycle's encoder sample, publishing the threshold of joint j in
// step j: the same as kxmcCollisionDetection(0, tau) ... (5, tau), with the sample's deflections
// and the model's threshold rules taken once. tau: six model torques [N m], null counts as an
// unloaded arm.
void dual_encoder_cycle(const float tau[6]);

}  // namespace detail
}  // namespace kxmc
