// Small number helpers: range clamping and rounding halves away from zero.
#include "framework/clamp.h"

#include <math.h>

int ClampToRange(int *value, int a, int b)
{
    int lower = a < b ? a : b, upper = a < b ? b : a;
    if (*value < lower) {
        *value = lower;
        return -1;
    }
    if (*value > upper) {
        *value = upper;
        return 1;
    }
    return 0;
}

int RoundHalfAway(double value)
{
    return (int)(value < 0 ? -floor(-value + 0.5) : floor(value + 0.5));
}
