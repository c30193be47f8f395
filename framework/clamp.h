// Small number helpers: keeping a value inside a range whose bounds may come
// in either order (sliders and spin edits store minimum and maximum as the
// user set them), and the one rounding rule for pixels and shown numbers.
#pragma once

// -1 raised to the lower bound, 1 lowered to the upper bound, 0 unchanged.
int ClampToRange(int *value, int a, int b);

// To the nearest whole number, halves away from zero (2.5 -> 3, -2.5 -> -3),
// so that a rectangle scaled on either side of the origin keeps its size.
int RoundHalfAway(double value);
