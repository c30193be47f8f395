// Reader of the marker segments at the start of a JPEG file: fills the EXIF
// record that every image carries in ImageInfo.exif (camera, exposure and
// resolution fields from the APP1 "Exif" block, the comment segment, and the
// frame size). It only reads; the sections it keeps are freed with it.
#pragma once

#include <stdint.h>

class CByteStream;

// The layout of ImageInfo.exif (464 bytes).
struct ExifRecord {
    char version[5];
    char cameraMake[32];
    char cameraModel[40];
    char dateTime[20];
    int32_t height, width;
    int32_t orientation;
    int32_t isColor;
    int32_t process;
    int32_t flashUsed;
    float focalLength;
    float exposureTime;
    float apertureFNumber;
    float distance;
    float ccdWidth;
    float exposureBias;
    int32_t whiteBalance;
    int32_t meteringMode;
    int32_t exposureProgram;
    int32_t isoEquivalent;
    int32_t compressionLevel;
    float focalPlaneXRes;
    float focalPlaneYRes;
    float focalPlaneUnits;
    float xResolution;
    float yResolution;
    float resolutionUnit;
    float brightness;
    char comments[256];
    unsigned char *thumbnailPointer;   // into the reader's copy; null once the reader is gone
    uint32_t thumbnailSize;
    uint8_t isExif;
};

#define EXIF_MAX_SECTIONS 20
#define EXIF_READ_EXIF 1

struct ExifSection {
    unsigned char *data;
    int marker;
    uint32_t size;
};

class ExifReader {
public:
    ExifRecord *record;
    char lastError[256];
    int32_t exifImageWidth;
    bool motorolaOrder;
    ExifSection sections[EXIF_MAX_SECTIONS];
    int sectionCount;
    bool ownsRecord;

    explicit ExifReader(ExifRecord *target = 0);
    ~ExifReader();
    // Reads segments up to the start of scan; false when the file ends first
    // or a segment is bad (the message is in lastError).
    bool Scan(CByteStream *stream, int mode = EXIF_READ_EXIF);
    // Decodes an APP1 block (from "Exif" on, `length` bytes).
    bool ProcessExif(const unsigned char *block, uint32_t length);
    void ProcessComment(const unsigned char *section, uint32_t length);

private:
    bool ProcessDirectory(const unsigned char *dir, const unsigned char *tiff, uint32_t usable,
                          int nesting, bool linked);
    bool ProcessEntry(const unsigned char *entry, const unsigned char *tiff, uint32_t usable,
                      int nesting, bool linked, uint32_t *thumbOffset, uint32_t *thumbSize);
    void StoreTag(int tag, int format, const unsigned char *value, uint32_t byteCount);
    double ConvertValue(const unsigned char *value, int format, uint32_t byteCount) const;
    int Get16(const unsigned char *p) const;
    uint32_t Get32(const unsigned char *p) const;
    void DropLastSection();
    bool Fail(const char *text);
    ExifReader(const ExifReader &);
    ExifReader &operator=(const ExifReader &);
};
