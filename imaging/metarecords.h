// Record walks over the bytes of a 16-bit metafile and of an enhanced
// metafile, done before GDI sees them. GDI plays every record on the trust
// of the fields inside it, so a walk answers true only when each record is
// whole inside the metafile and every field the player follows stays where
// it belongs: object indices inside the header's object table, bitmap
// headers and pixels, strings and spacing, points, polygons, palette entries
// and region rectangles inside their own record.
#pragma once

#include <stdint.h>

// The metafile starts with its 18-byte standard header.
bool WmfRecordsSound(const uint8_t *mf, int64_t bytes);

// For the converter, on a metafile WmfRecordsSound accepted: DIB colour
// counts of 0 are written out, which the walk counted on.
void WmfSpellOutColourCounts(uint8_t *mf, int64_t bytes);

// The metafile starts with its header record.
bool EmfRecordsSound(const uint8_t *emf, uint32_t bytes);
