#pragma once

// Wraps an angle into [-pi, pi), within single-precision rounding.
float normalize_radians(float angle);
