#pragma once

// Angle constants of the detection geometry. Every angle is computed in
// single precision with exactly these values, so regions derived from the
// same landmarks come out bit-identical run after run.
inline constexpr float kPi = 3.1415927f;
inline constexpr float kTwoPi = 6.2831855f;
