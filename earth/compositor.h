// The renderer: one 24-bit picture of the Earth from a list of views, each
// painting its own rectangle of the output. Wallpaper, screen-saver picture,
// previews and the camera image all come from ComposeImage.
#pragma once

#include <stdint.h>

#include "earth/settings.h"

// Results of ComposeImage (and of the render jobs that pass them on).
enum {
    RENDER_OK = 0,
    RENDER_NO_JOBS = 1,
    RENDER_THREAD_NOT_CREATED = 3,
    RENDER_MAP_TRAILER = '&',     // 38: the map's trailer is unreadable
    RENDER_NO_MAP = '+',          // 43: the day map cannot be opened
    RENDER_NO_TEMPORARY = ',',    // 44: the temporary file cannot be made, filled and mapped
                                  // (a full disk), the size is out of range or no memory
    RENDER_NO_HEADER = '-',       // 45: the bitmap header cannot be written
    RENDER_COPY_FAILED = 'C',     // 67: every copy over the target failed
    RENDER_NO_MEMORY = 'U',       // 85: out of memory building a job list
};

enum {
    RENDER_OUTPUT_WALLPAPER = 0,  // also the previews
    RENDER_OUTPUT_SCREENSAVER = 1,
    LIGHT_PALETTE_ROWS = 256,
    DAY_RAMP_ENTRIES = 257,
    SEASON_MASK_WIDTH = 864,
    SEASON_MASK_HEIGHT = 216,
};

// City-light colours by intensity, R G B.
extern const uint8_t LightPalette[LIGHT_PALETTE_ROWS][3];

// The season mask of the mixed-season modes, one byte a pixel, top row
// first; null until the program entry has decoded it (the modes that need it
// then fall back to the plain monthly mix).
extern uint8_t *SeasonMask;

// Screen facts the compositor reads, kept by the main window: origin and
// size of the output screen. Zero size means "use the primary screen".
extern int gScreenX, gScreenY, gScreenW, gScreenH;

// Test hook: number of attempts and the pause between copies of the
// finished picture over its target (61 and 1,000 ms).
extern int gComposeCopyAttempts;
extern int gComposeCopyPauseMs;

// Threads a render spreads each view's rows over: 0 one per processor core
// the process may use (the default), 1 the calling thread alone. The
// picture is the same either way.
extern int gRenderThreads;

// Puts source over target (moved, or copied when keepSource), retrying
// gComposeCopyAttempts times: a reader of the previous picture, such as the
// screen saver, may hold the target for a while. A copy goes through a
// temporary beside the target, so one that does not fit keeps the old one.
bool ReplaceFileWithRetries(const char *source, const char *target, bool keepSource);

// Renders the job list into path. cancel is read at least once a row:
// after each 256-pixel stretch of a flat map, each pixel pair of a globe,
// each run of space (each pixel of it under a background picture or on a
// desktop shifted sideways), and once more after a view's last row; the
// other threads then stop after their current row. A cancelled render
// answers RENDER_OK and leaves the target as it was. output is
// RENDER_OUTPUT_WALLPAPER or RENDER_OUTPUT_SCREENSAVER. The jobs are the
// caller's copies and are changed (dRotateX is negated).
int ComposeImage(volatile uint8_t *cancel, ViewList *jobs, const char *path, int output);

// The colour adjustment of day and night colours: saturation, contrast and
// brightness in percent applied to rgb in place; answers the grey taken
// before any change.
int AdjustColour(int *r, int *g, int *b, int saturation, int contrast, int brightness);

// Makes SeasonMask from the decoded mask picture (864 x 216, grey or
// colour: the grey of every pixel); false when its size is wrong or memory
// runs out. A previous mask is freed.
struct CDibImage;
bool SetSeasonMask(const CDibImage *picture);
void FreeSeasonMask();
