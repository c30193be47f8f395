#include "framework/clamp.h"

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
