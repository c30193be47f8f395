// EXIF reader: scans JPEG marker segments and decodes the APP1 "Exif" block.
// Every offset read from the file is checked in 64 bits against the block
// before it is followed, so hostile offsets cannot wrap past the bounds.
#include "exif.h"
#include "stream.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef char ExifRecordFitsInfo[sizeof(ExifRecord) <= 464 ? 1 : -1];

static const int kFormatBytes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

ExifReader::ExifReader(ExifRecord *target)
{
    ownsRecord = target == 0;
    record = target ? target : (ExifRecord *)calloc(1, sizeof(ExifRecord));
    lastError[0] = 0;
    exifImageWidth = 0;
    motorolaOrder = false;
    memset(sections, 0, sizeof sections);
    sectionCount = 0;
}

ExifReader::~ExifReader()
{
    for (int i = 0; i < sectionCount; i++)
        free(sections[i].data);
    // The thumbnail pointer points into a section freed above.
    if (record)
        record->thumbnailPointer = 0;
    if (ownsRecord)
        free(record);
}

bool ExifReader::Fail(const char *text)
{
    strncpy(lastError, text, sizeof lastError - 1);
    lastError[sizeof lastError - 1] = 0;
    return false;
}

void ExifReader::DropLastSection()
{
    sectionCount--;
    free(sections[sectionCount].data);
    sections[sectionCount].data = 0;
}

int ExifReader::Get16(const unsigned char *p) const
{
    return motorolaOrder ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0];
}

uint32_t ExifReader::Get32(const unsigned char *p) const
{
    if (motorolaOrder)
        return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
    return ((uint32_t)p[3] << 24) | ((uint32_t)p[2] << 16) | ((uint32_t)p[1] << 8) | p[0];
}

static bool IsFrameMarker(int m)
{
    return (m >= 0xC0 && m <= 0xCF) && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

// Reads a marker after any 0xFF padding; -1 at the end of the stream.
static int ReadMarker(CByteStream *stream, bool *tooMuchPadding)
{
    *tooMuchPadding = false;
    for (int run = 0;; run++) {
        int byte = stream->GetC();
        if (byte != 0xFF)
            return byte;
        if (run >= 6) {
            *tooMuchPadding = true;
            return -1;
        }
    }
}

bool ExifReader::Scan(CByteStream *stream, int mode)
{
    (void)mode;   // the only mode reads the EXIF and comment segments
    if (!stream || stream->GetC() != 0xFF || stream->GetC() != 0xD8)
        return false;
    bool haveComment = false;
    for (;;) {
        if (sectionCount >= EXIF_MAX_SECTIONS)
            return Fail("Too many sections in jpg file");
        bool padding;
        int marker = ReadMarker(stream, &padding);
        if (padding) {
            printf("too many padding bytes\n");
            return false;
        }
        int hi = stream->GetC(), lo = stream->GetC();
        if (marker < 0 || hi < 0 || lo < 0)
            return Fail("Premature end of file?");
        uint32_t length = (uint32_t)(hi << 8 | lo);
        if (length < 2)
            return Fail("invalid marker");
        unsigned char *data = (unsigned char *)malloc(length);
        if (!data)
            return Fail("Could not allocate memory");
        data[0] = (unsigned char)hi;
        data[1] = (unsigned char)lo;
        if (stream->Read(data + 2, 1, length - 2) != length - 2) {
            free(data);
            return Fail("Premature end of file?");
        }
        ExifSection *section = &sections[sectionCount++];
        section->data = data;
        section->marker = marker;
        section->size = length;

        if (IsFrameMarker(marker)) {
            // Fields up to byte 7 exist only in a segment of 8 bytes or more.
            if (length >= 8) {
                record->height = (data[3] << 8) | data[4];
                record->width = (data[5] << 8) | data[6];
                record->isColor = data[7] == 3;
                record->process = marker;
            }
        } else if (marker == 0xD9) {
            printf("No image in jpeg!\n");
            return false;
        } else if (marker == 0xDA) {
            return true;
        } else if (marker == 0xE0) {
            DropLastSection();
        } else if (marker == 0xE1) {
            if (length >= 6 && memcmp(data + 2, "Exif", 4) == 0)
                record->isExif = ProcessExif(data + 2, length - 2);
            else
                DropLastSection();
        } else if (marker == 0xFE) {
            if (!haveComment)
                ProcessComment(data, length);
            else
                DropLastSection();
            haveComment = true;
        }
    }
}

void ExifReader::ProcessComment(const unsigned char *section, uint32_t length)
{
    uint32_t end = length < 255 ? length : 255;
    char *out = record->comments;
    int n = 0;
    for (uint32_t i = 2; i < end; i++) {
        unsigned char c = section[i];
        if (c == '\r' && i + 1 < end && section[i + 1] == '\n')
            continue;
        out[n++] = (c >= 32 || c == '\n' || c == '\t') && c != 127 ? (char)c : '?';
    }
    out[n] = 0;
}

static const float *UnitInches(int unit)
{
    static const float inches[6] = {0.0f, 1.0f, 1.0f, 0.3937007874f, 0.03937007874f,
                                    0.00003937007874f};
    return unit >= 1 && unit <= 5 ? &inches[unit] : 0;
}

double ExifReader::ConvertValue(const unsigned char *v, int format, uint32_t byteCount) const
{
    if (format < 1 || format > 12 || byteCount < (uint32_t)kFormatBytes[format])
        return 0;
    switch (format) {
    case 1: return v[0];
    case 3: return Get16(v);
    case 4: return Get32(v);
    case 5: {
        uint32_t den = Get32(v + 4);
        return den ? (double)Get32(v) / den : 0;
    }
    case 10: {
        int32_t den = (int32_t)Get32(v + 4);
        return den ? (double)(int32_t)Get32(v) / den : 0;
    }
    case 6: return (signed char)v[0];
    case 8: return (int16_t)Get16(v);
    case 9: return (int32_t)Get32(v);
    case 11: {
        uint32_t bits = Get32(v);
        float f;
        memcpy(&f, &bits, 4);
        return f;
    }
    case 12: {
        uint32_t a = Get32(v), b = Get32(v + 4);
        uint64_t bits = motorolaOrder ? ((uint64_t)a << 32) | b : ((uint64_t)b << 32) | a;
        double d;
        memcpy(&d, &bits, 8);
        return d;
    }
    }
    return 0;
}

// Copies a text value of `byteCount` bytes, at most max - 1 characters.
static void CopyText(char *dst, int max, const unsigned char *src, uint32_t byteCount)
{
    int n = 0;
    while (n < max - 1 && (uint32_t)n < byteCount && src[n])
        dst[n] = (char)src[n], n++;
    dst[n] = 0;
}

static void StoreUserComment(char *dst, unsigned char *v, uint32_t byteCount)
{
    for (uint32_t i = byteCount; i > 0 && v[i - 1] == ' '; i--)
        v[i - 1] = 0;
    if (byteCount >= 5 && memcmp(v, "ASCII", 5) == 0) {
        for (uint32_t i = 5; i < 10 && i < byteCount; i++)
            if (v[i] != 0 && v[i] != ' ') {
                CopyText(dst, 200, v + i, byteCount - i);
                return;
            }
        return;
    }
    CopyText(dst, 200, v, byteCount);
}

void ExifReader::StoreTag(int tag, int format, const unsigned char *value, uint32_t byteCount)
{
    ExifRecord *r = record;
    double v = ConvertValue(value, format, byteCount);
    const float *unit;
    switch (tag) {
    case 36864: CopyText(r->version, 5, value, byteCount); break;
    case 271: CopyText(r->cameraMake, 32, value, byteCount); break;
    case 272: CopyText(r->cameraModel, 40, value, byteCount); break;
    case 36867: CopyText(r->dateTime, 20, value, byteCount); break;
    case 274:
        r->orientation = (int)v;
        if (r->orientation < 1 || r->orientation > 8) {
            r->orientation = 0;
            Fail("Undefined rotation value");
        }
        break;
    case 37385: r->flashUsed = ((int)v & 7) != 0; break;
    case 37386: r->focalLength = (float)v; break;
    case 33434: r->exposureTime = (float)v; break;
    case 37377:
        if (r->exposureTime == 0)
            r->exposureTime = (float)(1.0 / exp(v * log(2.0)));
        break;
    case 33437: r->apertureFNumber = (float)v; break;
    case 37378:
    case 37381:
        if (r->apertureFNumber == 0)
            r->apertureFNumber = (float)exp(v * log(2.0) * 0.5);
        break;
    case 37382: r->distance = (float)v; break;
    case 37380: r->exposureBias = (float)v; break;
    case 37384: r->whiteBalance = (int)v; break;
    case 37383: r->meteringMode = (int)v; break;
    case 34850: r->exposureProgram = (int)v; break;
    case 34855:
        r->isoEquivalent = (int)v;
        if (r->isoEquivalent < 50)
            r->isoEquivalent *= 200;
        break;
    case 37122: r->compressionLevel = (int)v; break;
    case 41486: r->focalPlaneXRes = (float)v; break;
    case 41487: r->focalPlaneYRes = (float)v; break;
    case 41488:
        if ((unit = UnitInches((int)v)) != 0)
            r->focalPlaneUnits = *unit;
        break;
    case 282: r->xResolution = (float)v; break;
    case 283: r->yResolution = (float)v; break;
    case 296:
        if ((unit = UnitInches((int)v)) != 0)
            r->resolutionUnit = *unit;
        break;
    case 37379: r->brightness = (float)v; break;
    case 37510: StoreUserComment(r->comments, (unsigned char *)value, byteCount); break;
    case 40962:
    case 40963:
        if ((int32_t)v > exifImageWidth)
            exifImageWidth = (int32_t)v;
        break;
    }
}

bool ExifReader::ProcessEntry(const unsigned char *entry, const unsigned char *tiff,
                              uint32_t usable, int nesting, bool linked,
                              uint32_t *thumbOffset, uint32_t *thumbSize)
{
    int tag = Get16(entry), format = Get16(entry + 2);
    uint32_t components = Get32(entry + 4);
    if (format > 12)
        return Fail("Illegal format code in EXIF dir");
    uint64_t byteCount = (uint64_t)components * kFormatBytes[format];
    const unsigned char *value = entry + 8;
    if (byteCount > 4) {
        uint32_t offset = Get32(entry + 8);
        if ((uint64_t)offset + byteCount > usable)
            return Fail("Illegal pointer offset value in EXIF.");
        value = tiff + offset;
    }
    // A linked directory describes the thumbnail; its resolution is not the picture's.
    bool thumbnailResolution = linked && (tag == 282 || tag == 283 || tag == 296);
    if (!thumbnailResolution)
        StoreTag(tag, format, value, (uint32_t)byteCount);
    if (tag == 513)
        *thumbOffset = (uint32_t)ConvertValue(value, format, (uint32_t)byteCount);
    if (tag == 514)
        *thumbSize = (uint32_t)ConvertValue(value, format, (uint32_t)byteCount);
    if (tag == 34665 || tag == 40965) {
        uint32_t sub = Get32(value);
        if (sub > 8) {
            if (sub >= usable)
                return Fail("Illegal subdirectory link");
            ProcessDirectory(tiff + sub, tiff, usable, nesting + 1, false);
        }
    }
    return true;
}

bool ExifReader::ProcessDirectory(const unsigned char *dir, const unsigned char *tiff,
                                  uint32_t usable, int nesting, bool linked)
{
    if (nesting > 4)
        return Fail("Maximum directory nesting exceeded (corrupt exif header)");
    uint64_t start = (uint64_t)(dir - tiff);
    if (start + 2 > usable)
        return Fail("Illegally sized directory");
    int n = Get16(dir);
    if (start + 2 + 12 * (uint64_t)n + 4 > usable)
        return Fail("Illegally sized directory");
    uint32_t thumbOffset = 0, thumbSize = 0;
    for (int i = 0; i < n; i++)
        if (!ProcessEntry(dir + 2 + 12 * i, tiff, usable, nesting, linked, &thumbOffset,
                          &thumbSize))
            return false;
    uint32_t link = Get32(dir + 2 + 12 * n);
    if (link) {
        if (link >= usable)
            return Fail("Illegal subdirectory link");
        ProcessDirectory(tiff + link, tiff, usable, nesting + 1, true);
    }
    if (thumbOffset && thumbSize && (uint64_t)thumbOffset + thumbSize <= usable) {
        record->thumbnailPointer = (unsigned char *)tiff + thumbOffset;
        record->thumbnailSize = thumbSize;
    }
    return true;
}

bool ExifReader::ProcessExif(const unsigned char *block, uint32_t length)
{
    record->flashUsed = 0;
    record->comments[0] = 0;
    exifImageWidth = 0;
    if (length < 6 || memcmp(block, "Exif\0\0", 6) != 0)
        return Fail("Incorrect Exif header");
    // The TIFF header (order mark, 42, first directory offset) needs 8 bytes.
    if (length < 14)
        return Fail("Invalid Exif start (1)");
    if (block[6] == 'I' && block[7] == 'I')
        motorolaOrder = false;
    else if (block[6] == 'M' && block[7] == 'M')
        motorolaOrder = true;
    else
        return Fail("Invalid Exif alignment marker.");
    const unsigned char *tiff = block + 6;
    uint32_t usable = length - 6;
    if (Get16(tiff + 2) != 42)
        return Fail("Invalid Exif start (1)");
    if (!ProcessDirectory(tiff + 8, tiff, usable, 0, false))
        return false;
    uint32_t first = Get32(tiff + 4);
    if (first > 8) {
        if (first >= usable)
            return Fail("Illegal subdirectory link");
        if (!ProcessDirectory(tiff + first, tiff, usable, 0, false))
            return false;
    }
    if (record->focalPlaneXRes != 0)
        record->ccdWidth = exifImageWidth * record->focalPlaneUnits / record->focalPlaneXRes;
    return true;
}
