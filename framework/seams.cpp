// The do-nothing defaults of the upward function pointers (framework/seams.h),
// constant-initialised so that no start-up order decides what a caller sees.
#include "framework/seams.h"

static void NoStatus(const char *, int) {}
static HWND NoWindow() { return 0; }
static void NoWait() {}
static void NoResult(int) {}

ProgressSink gProgressSink = {NoStatus, NoWindow, NoWait, NoResult, NoResult};
