// Keeping a value inside a range whose bounds may come in either order
// (sliders and spin edits store minimum and maximum as the user set them).
#pragma once

// -1 raised to the lower bound, 1 lowered to the upper bound, 0 unchanged.
int ClampToRange(int *value, int a, int b);
