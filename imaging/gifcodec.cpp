// GIF codec: own LZW decoder, composition of multi-image files on the
// logical screen (transparency and disposal methods), and three encoders.
// Every write into an image goes through its bounds-checked pixel access or
// through rows it allocated itself, whatever sizes or codes the file claims.
#include "gifcodec.h"
#include "framework/bytes.h"
#include "stream.h"

#include <new>
#include <stdlib.h>
#include <string.h>

static const char kErrStream[] = "invalid file pointer";
static const char kErrNoImages[] = "multipage GIF, no images!";
static const char kErrBadPointer[] = "Bad image pointer";
static const char kErrEmpty[] = "Empty image";
static const char kErrTrueColor[] =
    "CDibImageGIF::Encode cannot create animated GIFs with a true color frame. Use DecreaseBpp before";
static const char kErrWrite[] = "Write Error in GIF file";

enum { kMaxStack = 4094, kHashSize = 5003, kTileWidth = 17, kTileHeight = 15 };

CDibImageGIF::CDibImageGIF() : CDibImage(FORMAT_GIF)
{
    memset(&control, 0, sizeof control);
    comment[0] = 0;
    loopCount = 0;
    inputPos = kInputSize;
    inputFill = 0;
    inStream = 0;
    outStream = 0;
    writeFailed = false;
    outCount = 0;
    outBlockLimit = 254;
}

// ================================================================ input

static void ResetInput(CDibImageGIF *g, CByteStream *s)
{
    g->inStream = s;
    g->inputPos = CDibImageGIF::kInputSize;   // empty: the first read refills
    g->inputFill = 0;
}

static int ReadDataByte(CDibImageGIF *g)
{
    if (g->inputPos >= CDibImageGIF::kInputBlock) {
        size_t n = g->inStream->Read(g->input, 1, CDibImageGIF::kInputBlock);
        g->inputFill = (int32_t)n;
        if (n < CDibImageGIF::kInputBlock)
            g->input[n] = 0xFF;
        g->inputPos = 0;
    }
    if (g->inputPos >= g->inputFill)
        return -1;
    return g->input[g->inputPos++];
}

// Puts the stream right after the last byte the decoder consumed.
static void GiveBackUnread(CDibImageGIF *g, CByteStream *s)
{
    long unread = (long)g->inputFill - g->inputPos;
    if (unread > 0)
        s->Seek(-unread, SEEK_CUR);
}

// ================================================================ LZW decoder

static void ResetCodes(CDibImageGIF *g, int size)
{
    g->codeSize = size + 1;
    g->topSlot = 1 << (size + 1);
    g->nextSlot = g->firstFree;
}

// Next code, least significant bit first. A zero-size sub-block means the
// end code; the end of the data gives -1.
static int ReadCode(CDibImageGIF *g)
{
    while (g->bitsLeft < g->codeSize) {
        if (g->blockLeft == 0) {
            int n = ReadDataByte(g);
            if (n < 0)
                return -1;
            if (n == 0)
                return g->endCode;
            int got = 0;
            while (got < n) {
                int c = ReadDataByte(g);
                if (c < 0)
                    break;
                g->subBlock[got++] = (uint8_t)c;
            }
            if (got == 0)
                return -1;
            g->blockLeft = got;
            g->blockPos = 0;
        }
        g->bitBuffer |= g->subBlock[g->blockPos++] << g->bitsLeft;
        g->bitsLeft += 8;
        g->blockLeft--;
    }
    int code = g->bitBuffer & ((1 << g->codeSize) - 1);
    g->bitBuffer >>= g->codeSize;
    g->bitsLeft -= g->codeSize;
    return code;
}

// Packs one line of indices into the image row at picture row `row`.
static void PackRow(CDibImage *im, int row, const uint8_t *line)
{
    int width = im->GetWidth(), bpp = im->GetBpp();
    unsigned char *dst = im->info.pixels + (size_t)(im->GetHeight() - 1 - row) * im->GetRowStride();
    if (bpp == 8) {
        memcpy(dst, line, width);
    } else if (bpp == 4) {
        memset(dst, 0, (width + 1) / 2);
        for (int x = 0; x < width; x++)
            dst[x >> 1] |= (line[x] & 15) << (x & 1 ? 0 : 4);
    } else {
        memset(dst, 0, (width + 7) / 8);
        for (int x = 0; x < width; x++)
            if (line[x] & 1)
                dst[x >> 3] |= 0x80 >> (x & 7);
    }
}

// Interlaced rows come in four passes: 0, 8, 16 ...; 4, 12 ...; 2, 6 ...; 1, 3 ...
static void AdvanceInterlace(CDibImageGIF *g)
{
    g->yPos += g->rowStep;
    while (g->yPos >= g->imageHeight && g->pass < 4) {
        g->pass++;
        if (g->pass > 1)
            g->rowStep /= 2;
        g->yPos = g->rowStep / 2;
    }
}

// Lines beyond the image are dropped (and noted) rather than ending the
// decode, so that the data is still read to its end code.
static void WriteLine(CDibImageGIF *g, CDibImage *im, const uint8_t *line)
{
    if (!im)
        return;
    int row = g->yPos;
    if ((g->interlaced && g->pass >= 4) || row < 0 || row >= g->imageHeight ||
        row >= im->GetHeight()) {
        g->overflowed = true;
        return;
    }
    PackRow(im, row, line);
    if (g->interlaced)
        AdvanceInterlace(g);
    else
        g->yPos++;
}

// Decodes one image's data into `im` (null: only read through it).
// Answers 0, or a negative code: -5 bad width, -20 bad code size, -10 no
// memory, -1 no data.
static int DecodeLzw(CDibImageGIF *g, CDibImage *im, int width)
{
    if (width <= 0)
        return -5;
    int size = ReadDataByte(g);
    if (size < 0)
        return -1;
    if (size < 2 || size > 9)
        return -20;
    g->clearCode = 1 << size;
    g->endCode = g->clearCode + 1;
    g->firstFree = g->clearCode + 2;
    ResetCodes(g, size);
    memset(g->prefix, 0, sizeof g->prefix);
    memset(g->suffix, 0, sizeof g->suffix);
    g->bitsLeft = g->blockLeft = g->blockPos = g->bitBuffer = 0;
    g->badCodes = 0;
    uint8_t *line = (uint8_t *)calloc(width + 1, 1);
    if (!line)
        return -10;
    int filled = 0, previous = -1, first = 0;
    for (;;) {
        int code = ReadCode(g);
        if (code < 0 || code == g->endCode)
            break;
        int sp = 0;
        if (code == g->clearCode || previous < 0) {
            if (code == g->clearCode) {
                ResetCodes(g, size);
                do
                    code = ReadCode(g);
                while (code == g->clearCode);
                if (code < 0 || code == g->endCode)
                    break;
            }
            if (code >= g->nextSlot)
                code = 0;
            previous = first = code;
            g->stack[sp++] = (uint8_t)code;
        } else {
            int current = code;
            if (code >= g->nextSlot) {
                if (code > g->nextSlot)
                    g->badCodes++;
                g->stack[sp++] = (uint8_t)first;
                current = previous;
            }
            while (current >= g->firstFree && sp < kMaxStack) {
                g->stack[sp++] = g->suffix[current];
                current = g->prefix[current];
            }
            if (current >= g->firstFree)   // cannot happen with sane tables
                g->badCodes++;
            first = current & 0xFF;
            g->stack[sp++] = (uint8_t)first;
            if (g->nextSlot < g->topSlot) {
                g->suffix[g->nextSlot] = (uint8_t)first;
                g->prefix[g->nextSlot] = (uint16_t)previous;
                g->nextSlot++;
            }
            if (g->nextSlot >= g->topSlot && g->codeSize < 12) {
                g->topSlot <<= 1;
                g->codeSize++;
            }
            previous = code;
        }
        while (sp > 0) {
            line[filled++] = g->stack[--sp];
            if (filled == width) {
                WriteLine(g, im, line);
                filled = 0;
            }
        }
    }
    if (filled > 0) {
        memset(line + filled, 0, width - filled);
        WriteLine(g, im, line);
    }
    free(line);
    return 0;
}

static void StartImageData(CDibImageGIF *g, CByteStream *s, bool interlaced, int height)
{
    ResetInput(g, s);
    g->interlaced = interlaced;
    g->overflowed = false;
    g->imageHeight = height;
    g->rowStep = 8;
    g->yPos = 0;
    g->pass = 0;
    g->badCodes = 0;
}

// ================================================================ file structure

// Seeks to `from` and on to the next ',' that follows a zero byte (or is the
// first byte), so that it is read next. -1 at the end of the data.
static int FindNextImage(CByteStream *s, long from)
{
    if (!s->Seek(from, SEEK_SET))
        return -1;
    int previous = 0;
    for (;;) {
        int c = s->GetC();
        if (c < 0)
            return -1;
        if (c == ',' && previous == 0) {
            s->Seek(-1, SEEK_CUR);
            return 0;
        }
        previous = c;
    }
}

// After an image's data: trust the buffer position only when the codes were sane.
static void PositionAfterImage(CDibImageGIF *g, CByteStream *s, long dataStart)
{
    if (g->badCodes)
        FindNextImage(s, dataStart);
    else
        GiveBackUnread(g, s);
}

static void SkipSubBlocks(CByteStream *s)
{
    for (;;) {
        int n = s->GetC();
        if (n <= 0 || !s->Seek(n, SEEK_CUR))
            return;
    }
}

// Answers whether decoding goes on.
static bool ReadExtension(CDibImageGIF *g, CByteStream *s)
{
    int label = s->GetC();
    if (label < 0)
        return false;
    bool go = true;
    if (label == 0xF9) {
        int size = s->GetC();
        uint8_t b[4];
        size_t n = s->Read(b, 1, 4);
        go = size >= 0 && n == (size_t)size;
        if (go) {
            g->control.flags = b[0];
            g->control.delay = Le16(b + 1);
            g->control.transIndex = b[3];
            g->info.backgroundIndex = (b[0] & 1) ? b[3] : -1;
            g->info.frameDelay = g->control.delay;
            g->info.displayMethod = (uint8_t)((b[0] >> 2) & 7);
        }
    } else if (label == 0xFE) {
        int n = s->GetC();
        size_t got = n > 0 ? s->Read(g->comment, 1, n) : 0;
        g->comment[got] = 0;
        go = n >= 0;
    } else if (label == 0xFF) {
        uint8_t id[11], data[256];
        go = s->GetC() == 11 && s->Read(id, 1, 11) == 11;
        int m = go ? s->GetC() : -1;
        go = m >= 0;
        if (go && s->Read(data, 1, m) == (size_t)m && m > 2)
            g->loopCount = Le16(data + 1);
    }
    if (!go)
        return false;
    SkipSubBlocks(s);
    return true;
}

struct GifDescriptor {
    int left, top, width, height, packed;
};

static bool ReadDescriptor(CByteStream *s, GifDescriptor *d)
{
    uint8_t b[9];
    if (s->Read(b, 1, 9) != 9)
        return false;
    d->left = Le16(b);
    d->top = Le16(b + 2);
    d->width = Le16(b + 4);
    d->height = Le16(b + 6);
    d->packed = b[8];
    return true;
}

static int LocalTableSize(const GifDescriptor &d) { return (d.packed & 0x80) ? 2 << (d.packed & 7) : 0; }

// Zero-size images and images that do not fit the screen are ignored.
static bool FitsScreen(const GifDescriptor &d, int screenW, int screenH)
{
    return d.width > 0 && d.height > 0 && d.left + d.width <= screenW && d.top + d.height <= screenH;
}

// State of one decode beyond the codec object itself.
struct GifDecodeRun {
    CByteStream *s;
    int screenW, screenH;
    uint8_t globalTable[768];
    int globalSize;
    bool hasGlobal;
    int trueColorCount;
    int imageNumber;
    int firstTrans;
    int prevDisposal;
    CDibImage *previous;     // the picture to return to for disposal 3
    CDibImage *trueCanvas;   // 24-bit screen of a true-colour GIF
};

// Counts the images that would be decoded; the stream and the decode-relevant
// settings are left as they were.
static int CountFrames(CDibImageGIF *g, GifDecodeRun *run)
{
    CByteStream *s = run->s;
    long start = s->Tell();
    ImageInfo savedInfo = g->info;
    GifControlBlock savedControl = g->control;
    int count = 0;
    bool skip = false;
    for (;;) {
        int c = s->GetC();
        if (c < 0 || (!skip && c == 0x3B))
            break;
        if (skip && c != 0)
            continue;
        if (c == 0x21) {
            ReadExtension(g, s);
        } else if (c == 0x2C) {
            GifDescriptor d;
            if (!ReadDescriptor(s, &d))
                break;
            if (run->screenW == 0 && run->screenH == 0) {
                run->screenW = d.width;
                run->screenH = d.height;
            }
            if (!FitsScreen(d, run->screenW, run->screenH))
                continue;
            count++;
            s->Seek(3 * LocalTableSize(d), SEEK_CUR);
            long dataStart = s->Tell();
            StartImageData(g, s, (d.packed & 0x40) != 0, d.height);
            DecodeLzw(g, 0, d.width);
            PositionAfterImage(g, s, dataStart);
        } else {
            skip = c != 0;
        }
    }
    s->Seek(start, SEEK_SET);
    g->info = savedInfo;
    g->control = savedControl;
    return count;
}

static int DepthOf(int tableSize) { return tableSize <= 2 ? 1 : tableSize <= 16 ? 4 : 8; }

// Canvas for this image: the screen as it stands before it is drawn.
static bool BuildCanvas(CDibImageGIF *g, GifDecodeRun *run, CDibImage *canvas, int depth)
{
    canvas->CopyInfo(*g);
    if (run->imageNumber == 0) {
        if (!canvas->Create(run->screenW, run->screenH, depth, FORMAT_GIF))
            return false;
        run->firstTrans = g->info.backgroundIndex;
        canvas->Clear(g->control.transIndex);
        run->previous->Copy(*canvas);
        run->previous->info.getAllFrames = 0;
        return run->previous->IsValid();
    }
    if (run->prevDisposal == 2) {
        canvas->Copy(*g, false);
        canvas->Clear(run->firstTrans);
        // A later "restore previous" returns to this cleared screen, not to
        // the picture before the frame that was disposed of.
        run->previous->Copy(*canvas);
        run->previous->info.getAllFrames = 0;
    } else if (run->prevDisposal == 3 && run->previous->IsValid()) {
        canvas->Copy(*g, false);
        CDibImage *p = run->previous;
        if (!canvas->Create(p->GetWidth(), p->GetHeight(), p->GetBpp(), FORMAT_GIF))
            return false;
        memcpy(canvas->dib, p->dib, (size_t)p->GetSize());
        canvas->head = p->head;
    } else {
        canvas->Copy(*g);
    }
    return canvas->IsValid();
}

static void SetFramePalette(CDibImage *im, const uint8_t *table, int size, bool transparent)
{
    if (!transparent) {
        im->SetPalette(table, size);
        return;
    }
    uint8_t full[768];
    memset(full, 255, sizeof full);
    memcpy(full, table, 3 * size);
    im->SetPalette(full, 256);
}

// Image rows (bitmap order) on the canvas: the image's top is `top` rows
// below the canvas's top. Transparent pixels leave the canvas as it is.
static void MixInto(CDibImage *canvas, const CDibImage *im, int left, int top)
{
    int h = im->GetHeight(), w = im->GetWidth();
    int base = canvas->GetHeight() - top - h;   // canvas row of image row 0
    int y0 = base > 0 ? base : 0, y1 = canvas->GetHeight() - top;
    int x1 = left + w < canvas->GetWidth() ? left + w : canvas->GetWidth();
    int trans = im->GetTransIndex();
    for (int y = y0; y < y1; y++)
        for (int x = left; x < x1; x++) {
            uint8_t index = im->GetPixelIndex(x - left, y - base);
            if (trans < 0 || index != (uint8_t)trans)
                canvas->SetPixelIndex(x, y, index);
        }
}

static void CopyTrueColor(CDibImage *canvas, const CDibImage *im, int left, int top)
{
    int h = im->GetHeight(), w = im->GetWidth();
    int base = canvas->GetHeight() - top - h;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            canvas->SetPixelColor(left + x, base + y, im->GetPixelColor(x, y));
}

static bool ComposeStandard(CDibImageGIF *g, GifDecodeRun *run, CDibImage *canvas,
                            const GifDescriptor &d, int depth)
{
    canvas->IncreaseBpp(depth);
    MixInto(canvas, g, d.left, d.top);
    canvas->info.backgroundIndex = run->firstTrans;
    canvas->SetPalette(g->GetPalette(), g->GetNumColors());
    return g->Transfer(*canvas, false);
}

static bool ComposeTrueColor(CDibImageGIF *g, GifDecodeRun *run, const GifDescriptor &d)
{
    g->info.frameIndex = g->info.frameCount - 1;
    if (!run->trueCanvas) {
        run->trueCanvas = new (std::nothrow) CDibImage(FORMAT_GIF);
        if (!run->trueCanvas)
            return false;
        run->trueCanvas->CopyInfo(*g);
        if (!run->trueCanvas->Create(run->screenW, run->screenH, 24, FORMAT_GIF))
            return false;
        run->trueCanvas->Clear(0);
    }
    CopyTrueColor(run->trueCanvas, g, d.left, d.top);
    return true;
}

static bool KeepFrame(CDibImageGIF *g, GifDecodeRun *run)
{
    if (run->imageNumber == 0) {
        int count = g->info.frameCount;
        g->DestroyFrames();
        g->info.frameCount = count;
        g->frames = (CDibImage **)calloc(count, sizeof *g->frames);
        if (!g->frames)
            return false;
        g->frameSlots = count;
    }
    if (run->imageNumber >= g->frameSlots)
        return true;
    CDibImage *copy = new (std::nothrow) CDibImage(*g);
    if (!copy)
        return false;
    copy->info.getAllFrames = 0;
    g->frames[run->imageNumber] = copy;
    return true;
}

enum { STEP_GO_ON, STEP_DONE, STEP_FAIL };

static int DecodeOneImage(CDibImageGIF *g, GifDecodeRun *run)
{
    CByteStream *s = run->s;
    GifDescriptor d;
    if (!ReadDescriptor(s, &d))
        return STEP_DONE;
    if (!FitsScreen(d, run->screenW, run->screenH))
        return STEP_GO_ON;
    // Without a global table a first image that does not cover the screen
    // is a tile of a true-colour mosaic. Narrower *or* lower: a picture at
    // most 15 rows high or 17 columns wide is written as one row or column of
    // tiles whose first tile spans a full side, and must read back whole.
    if (run->imageNumber == 0 && (d.width != run->screenW || d.height != run->screenH))
        run->trueColorCount++;
    uint8_t local[768];
    const uint8_t *table = run->globalTable;
    int tableSize = run->globalSize;
    bool hasTable = run->hasGlobal;
    if (d.packed & 0x80) {
        tableSize = LocalTableSize(d);
        if (s->Read(local, 1, 3 * tableSize) != (size_t)(3 * tableSize))
            return STEP_DONE;
        table = local;
        hasTable = true;
    }
    int depth = DepthOf(tableSize);
    bool trueColor = run->trueColorCount >= 2;
    CDibImage canvas(FORMAT_GIF);
    if (trueColor)
        run->firstTrans = run->imageNumber == 0 ? g->info.backgroundIndex : run->firstTrans;
    else if (!BuildCanvas(g, run, &canvas, depth))
        return STEP_FAIL;
    if (!g->Create(d.width, d.height, depth, FORMAT_GIF))
        return STEP_FAIL;
    // Rows that corrupt data never reaches stay transparent (or index 0).
    g->Clear(g->info.backgroundIndex >= 0 ? g->info.backgroundIndex : 0);
    if (hasTable)
        SetFramePalette(g, table, tableSize, g->info.backgroundIndex >= 0);
    StartImageData(g, s, (d.packed & 0x40) != 0, d.height);
    long dataStart = s->Tell();
    DecodeLzw(g, g, d.width);
    if (g->IsCancelled())
        return STEP_FAIL;
    if (trueColor ? !ComposeTrueColor(g, run, d) : !ComposeStandard(g, run, &canvas, d, depth))
        return STEP_FAIL;
    run->prevDisposal = (g->control.flags >> 2) & 7;
    PositionAfterImage(g, s, dataStart);
    if (g->info.getAllFrames && !run->trueCanvas && !KeepFrame(g, run))
        return STEP_FAIL;
    if (!trueColor && run->prevDisposal <= 1) {
        run->previous->Copy(*g);
        run->previous->info.getAllFrames = 0;
    }
    if (run->imageNumber == g->info.frameIndex && !g->info.getAllFrames)
        return STEP_DONE;
    run->imageNumber++;
    return STEP_GO_ON;
}

static bool ReadHeader(GifDecodeRun *run, uint8_t *packed)
{
    uint8_t h[13];
    if (run->s->Read(h, 1, 13) != 13 || memcmp(h, "GIF8", 4) != 0)
        return false;
    run->screenW = Le16(h + 6);
    run->screenH = Le16(h + 8);
    *packed = h[10];
    return true;
}

static bool RunImages(CDibImageGIF *g, GifDecodeRun *run)
{
    bool skip = false;
    for (;;) {
        int c = run->s->GetC();
        if (c < 0)
            return true;
        if (g->IsCancelled())
            return false;
        if (skip && c != 0)
            continue;
        if (c == 0x21) {
            if (!ReadExtension(g, run->s))
                return true;
        } else if (c == 0x2C) {
            int step = DecodeOneImage(g, run);
            if (step != STEP_GO_ON)
                return step == STEP_DONE;
        } else if (c == 0x3B) {
            return true;
        } else {
            skip = c != 0;
        }
    }
}

static bool FinishTrueColor(CDibImageGIF *g, GifDecodeRun *run)
{
    CDibImage *canvas = run->trueCanvas;
    if (g->control.flags & 1) {
        canvas->SetTransColor(g->GetPaletteColor(g->info.backgroundIndex));
        canvas->info.backgroundIndex = 0;
    }
    int count = g->info.frameCount;
    bool ok = g->Transfer(*canvas, true);
    g->info.frameCount = count;
    return ok;
}

bool CDibImageGIF::Decode(CByteStream *s)
{
    if (!s)
        return false;
    GifDecodeRun run;
    memset(&run, 0, sizeof run);
    run.s = s;
    uint8_t packed;
    if (!ReadHeader(&run, &packed))
        return false;
    if (info.escape == -1) {
        head.biWidth = run.screenW;
        head.biHeight = run.screenH;
        info.format = FORMAT_GIF;
        return true;
    }
    // Settings a caller's earlier image may have left must not leak in.
    info.backgroundIndex = -1;
    info.frameDelay = 0;
    info.displayMethod = 0;
    run.globalSize = 2 << (packed & 7);
    run.hasGlobal = (packed & 0x80) != 0;
    if (run.hasGlobal) {
        if (s->Read(run.globalTable, 1, 3 * run.globalSize) != (size_t)(3 * run.globalSize))
            return false;
    } else {
        run.trueColorCount = 1;
    }
    info.frameCount = CountFrames(this, &run);
    if (info.frameIndex < 0 || info.frameIndex >= info.frameCount)
        return false;
    if (info.frameCount == 1)
        run.trueColorCount = 0;
    run.firstTrans = -1;
    run.previous = new (std::nothrow) CDibImage(FORMAT_GIF);
    if (!run.previous)
        return false;
    bool ok = RunImages(this, &run);
    if (ok && run.trueCanvas)
        ok = FinishTrueColor(this, &run);
    delete run.trueCanvas;
    delete run.previous;
    return ok;
}

// ================================================================ output

static void WriteBytes(CDibImageGIF *g, const void *bytes, size_t n)
{
    if (n && g->outStream->Write(bytes, 1, n) != n)
        g->writeFailed = true;
}

static void WriteByte(CDibImageGIF *g, int b)
{
    uint8_t v = (uint8_t)b;
    WriteBytes(g, &v, 1);
}

static void WriteWord(CDibImageGIF *g, int w)
{
    uint8_t b[2];
    Put16(b, (uint32_t)w);
    WriteBytes(g, b, 2);
}

static void FlushBlock(CDibImageGIF *g)
{
    if (g->outCount > 0) {
        WriteByte(g, g->outCount);
        WriteBytes(g, g->outBlock, g->outCount);
        g->outCount = 0;
    }
}

static void PutCodeByte(CDibImageGIF *g, int b)
{
    g->outBlock[g->outCount++] = (unsigned char)b;
    if (g->outCount >= g->outBlockLimit)
        FlushBlock(g);
}

// Packs `bits` bits of `code`, least significant first.
static void PackBits(CDibImageGIF *g, int code, int bits)
{
    g->accumulator |= (uint32_t)code << g->accumulatedBits;
    g->accumulatedBits += bits;
    while (g->accumulatedBits >= 8) {
        PutCodeByte(g, g->accumulator & 0xFF);
        g->accumulator >>= 8;
        g->accumulatedBits -= 8;
    }
}

static void FlushBits(CDibImageGIF *g)
{
    if (g->accumulatedBits > 0)
        PutCodeByte(g, g->accumulator & 0xFF);
    g->accumulator = 0;
    g->accumulatedBits = 0;
    FlushBlock(g);
    g->outStream->Flush();
}

static void StartCodes(CDibImageGIF *g, int bits, int blockLimit)
{
    g->initBits = g->outBits = bits;
    g->maxCode = (1 << bits) - 1;
    g->encClear = 1 << (bits - 1);
    g->encEnd = g->encClear + 1;
    g->freeCode = g->encClear + 2;
    g->clearFlag = false;
    g->accumulator = 0;
    g->accumulatedBits = 0;
    g->outCount = 0;
    g->outBlockLimit = blockLimit;
}

// LZW and uncompressed codes: the width follows the next free code.
static void OutputCode(CDibImageGIF *g, int code)
{
    PackBits(g, code, g->outBits);
    if (g->freeCode > g->maxCode || g->clearFlag) {
        if (g->clearFlag) {
            g->outBits = g->initBits;
            g->clearFlag = false;
        } else {
            g->outBits++;
        }
        g->maxCode = g->outBits == 12 ? 4096 : (1 << g->outBits) - 1;
    }
    if (code == g->encEnd)
        FlushBits(g);
}

static void StartCursor(CDibImageGIF *g, const CDibImage *im)
{
    g->curX = g->curY = 0;
    g->remaining = (long)im->GetWidth() * im->GetHeight();
}

static int NextPixel(CDibImageGIF *g, const CDibImage *im)
{
    if (g->remaining <= 0)
        return -1;
    int index = im->BlindGetPixelIndex(g->curX, im->GetHeight() - 1 - g->curY);
    g->remaining--;
    if (++g->curX == im->GetWidth()) {
        g->curX = 0;
        g->curY++;
    }
    return index;
}

static void ClearHash(CDibImageGIF *g) { memset(g->hashTable, 0xFF, sizeof g->hashTable); }

static void ClearAndRestart(CDibImageGIF *g)
{
    ClearHash(g);
    g->freeCode = g->encClear + 2;
    g->clearFlag = true;
    OutputCode(g, g->encClear);
}

static void CompressLzw(CDibImageGIF *g, const CDibImage *im, int bits)
{
    StartCodes(g, bits, 254);
    StartCursor(g, im);
    ClearHash(g);
    OutputCode(g, g->encClear);
    int prefix = NextPixel(g, im), c;
    while ((c = NextPixel(g, im)) >= 0) {
        int32_t key = (c << 12) + prefix;
        int slot = (c << 4) ^ prefix;
        bool found = g->hashTable[slot] == key;
        if (!found && g->hashTable[slot] >= 0) {
            int step = slot == 0 ? 1 : kHashSize - slot;
            do {
                slot -= step;
                if (slot < 0)
                    slot += kHashSize;
                found = g->hashTable[slot] == key;
            } while (!found && g->hashTable[slot] >= 0);
        }
        if (found) {
            prefix = g->codeTable[slot];
            continue;
        }
        OutputCode(g, prefix);
        prefix = c;
        if (g->freeCode <= 4095) {
            g->codeTable[slot] = (uint16_t)g->freeCode++;
            g->hashTable[slot] = key;
        } else {
            ClearAndRestart(g);
        }
    }
    OutputCode(g, prefix);
    OutputCode(g, g->encEnd);
}

static void CompressNone(CDibImageGIF *g, const CDibImage *im, int bits)
{
    StartCodes(g, bits, 254);
    StartCursor(g, im);
    OutputCode(g, g->encClear);
    int c;
    while ((c = NextPixel(g, im)) >= 0) {
        OutputCode(g, c);
        if (g->freeCode <= 4095) {
            g->freeCode++;
        } else {
            g->freeCode = g->encClear + 2;
            g->clearFlag = true;
            OutputCode(g, g->encClear);
        }
    }
    OutputCode(g, g->encEnd);
}

// ---------------------------------------------------------------- run-length codes

struct GifRle {
    CDibImageGIF *g;
    int pixel, count;           // current run
    int tablePixel, tableMax;   // run codes the decoder's table holds
    bool justCleared;
    int outBits, outBitsInit, outCount, outBump, outBumpInit, outClear, outClearInit;
    int maxOcodes, codeClear, codeEnd, runBase;
};

static void RleOutput(GifRle *r, int code) { PackBits(r->g, code, r->outBits); }

static void RleDidClear(GifRle *r)
{
    r->outBits = r->outBitsInit;
    r->outBump = r->outBumpInit;
    r->outClear = r->outClearInit;
    r->outCount = 0;
    r->tableMax = 0;
    r->justCleared = true;
}

static void RleClear(GifRle *r)
{
    RleOutput(r, r->codeClear);
    RleDidClear(r);
}

static void RlePlain(GifRle *r, int code)
{
    r->justCleared = false;
    RleOutput(r, code);
    r->outCount++;
    if (r->outCount >= r->outBump) {
        r->outBits++;
        r->outBump += 1 << (r->outBits - 1);
    }
    if (r->outCount >= r->outClear)
        RleClear(r);
}

static unsigned IntSqrt(unsigned x)
{
    if (x < 2)
        return x;
    unsigned v = x, next = (v + x / v) / 2;
    while (next < v) {
        v = next;
        next = (v + x / v) / 2;
    }
    return v;
}

// Codes needed to send n pixels as growing runs with at most r run codes.
static int TriangleCost(int n, int r)
{
    int cost = 0, perRep = r * (r + 1) / 2;
    while (n >= perRep) {
        cost += r;
        n -= perRep;
    }
    if (n > 0) {
        int d = (int)IntSqrt((unsigned)n);
        while (d * (d + 1) >= 2 * n)
            d--;
        while (d * (d + 1) < 2 * n)
            d++;
        cost += d;
    }
    return cost;
}

static void RleResetClear(GifRle *r)
{
    r->outClear = r->outClearInit;
    if (r->outCount >= r->outClear)
        RleClear(r);
}

static void RleFlushFromClear(GifRle *r, int n)
{
    r->outClear = r->maxOcodes;
    r->tablePixel = r->pixel;
    int k = 1;
    while (n > 0) {
        if (k == 1) {
            r->tableMax = 1;
            RlePlain(r, r->pixel);
            n--;
        } else if (n >= k) {
            r->tableMax = k;
            RlePlain(r, r->runBase + k - 2);
            n -= k;
        } else if (n == 1) {
            r->tableMax++;
            RlePlain(r, r->pixel);
            n = 0;
        } else {
            r->tableMax++;
            RlePlain(r, r->runBase + n - 2);
            n = 0;
        }
        k = r->outCount == 0 ? 1 : k + 1;
    }
    RleResetClear(r);
}

static void RleFlushWithTable(GifRle *r, int n)
{
    int size = r->tableMax;
    int reps = n / size, rest = n % size, extra = rest ? 1 : 0;
    if (r->outCount + reps + extra > r->maxOcodes) {
        reps = r->maxOcodes - r->outCount;
        rest = n - size * reps;
        extra = 1 + TriangleCost(rest, r->maxOcodes);
    }
    if (1 + TriangleCost(n, r->maxOcodes) < reps + extra) {
        RleClear(r);
        RleFlushFromClear(r, n);
        return;
    }
    r->outClear = r->maxOcodes;
    for (; reps > 0; reps--)
        RlePlain(r, r->runBase + size - 2);
    if (rest) {
        if (r->justCleared)
            RleFlushFromClear(r, rest);
        else if (rest == 1)
            RlePlain(r, r->pixel);
        else
            RlePlain(r, r->runBase + rest - 2);
    }
    RleResetClear(r);
}

static void RleFlushRun(GifRle *r)
{
    int n = r->count;
    r->count = 0;
    if (n == 1) {
        RlePlain(r, r->pixel);
    } else if (r->justCleared) {
        RleFlushFromClear(r, n);
    } else if (r->tableMax >= 2 && r->tablePixel == r->pixel) {
        RleFlushWithTable(r, n);
    } else if (1 + TriangleCost(n, r->maxOcodes) < n) {
        RleClear(r);
        RleFlushFromClear(r, n);
    } else {
        for (; n > 0; n--)
            RlePlain(r, r->pixel);
    }
}

static void CompressRle(CDibImageGIF *g, const CDibImage *im, int bits)
{
    StartCodes(g, bits, 255);
    StartCursor(g, im);
    GifRle r;
    memset(&r, 0, sizeof r);
    r.g = g;
    r.codeClear = 1 << (bits - 1);
    r.codeEnd = r.codeClear + 1;
    r.runBase = r.codeClear + 2;
    r.outBitsInit = bits;
    r.outBumpInit = (1 << (bits - 1)) - 1;
    r.outClearInit = bits <= 3 ? 9 : r.outBumpInit - 1;
    r.maxOcodes = 4093 - (1 << (bits - 1));
    RleDidClear(&r);
    RleOutput(&r, r.codeClear);
    int c;
    while ((c = NextPixel(g, im)) >= 0) {
        if (r.count > 0 && c == r.pixel) {
            r.count++;
            continue;
        }
        if (r.count > 0)
            RleFlushRun(&r);
        r.pixel = c;
        r.count = 1;
    }
    if (r.count > 0)
        RleFlushRun(&r);
    RleOutput(&r, r.codeEnd);
    FlushBits(g);
}

// ---------------------------------------------------------------- blocks

static void WriteHeader(CDibImageGIF *g, const CDibImage *im)
{
    WriteBytes(g, "GIF89a", 6);
    WriteWord(g, im->GetWidth());
    WriteWord(g, im->GetHeight());
    int colors = im->GetNumColors(), depth = im->GetBpp();
    WriteByte(g, colors ? (0x80 | ((depth - 1) << 5) | (depth - 1)) & 0xFF : 0x11);
    WriteByte(g, 0);
    WriteByte(g, 0);
    for (int i = 0; i < colors; i++) {
        RGBQUAD c = im->GetPaletteColor(i);
        uint8_t rgb[3] = {c.rgbRed, c.rgbGreen, c.rgbBlue};
        WriteBytes(g, rgb, 3);
    }
}

static void WriteControl(CDibImageGIF *g, const CDibImage *im, int method)
{
    uint8_t b[8] = {0x21, 0xF9, 0x04, 0, 0, 0, 0, 0};
    b[3] = (uint8_t)((im->info.backgroundIndex != -1 ? 1 : 0) | ((method & 7) << 2));
    Put16(b + 4, (uint32_t)im->info.frameDelay);
    b[6] = (uint8_t)im->info.backgroundIndex;
    WriteBytes(g, b, 8);
}

static void WriteComment(CDibImageGIF *g, const char *text)
{
    size_t n = strlen(text);
    if (n == 0)
        return;
    if (n > 255)
        n = 255;
    uint8_t b[3] = {0x21, 0xFE, (uint8_t)n};
    WriteBytes(g, b, 3);
    WriteBytes(g, text, n);
    WriteByte(g, 0);
}

static void WriteLooping(CDibImageGIF *g, int loops)
{
    WriteBytes(g, "\x21\xFF\x0BNETSCAPE2.0\x03\x01", 16);
    WriteWord(g, loops);
    WriteByte(g, 0);
}

static void WriteImage(CDibImageGIF *g, const CDibImage *im, bool localTable)
{
    int depth = im->GetBpp();
    WriteByte(g, 0x2C);
    WriteWord(g, im->info.xOffset);
    WriteWord(g, im->info.yOffset);
    WriteWord(g, im->GetWidth());
    WriteWord(g, im->GetHeight());
    if (localTable) {
        WriteByte(g, 0x80 | (depth - 1));
        for (int i = 0; i < im->GetNumColors(); i++) {
            RGBQUAD c = im->GetPaletteColor(i);
            uint8_t rgb[3] = {c.rgbRed, c.rgbGreen, c.rgbBlue};
            WriteBytes(g, rgb, 3);
        }
    } else {
        WriteByte(g, 0);
    }
    int codeSize = depth < 2 ? 2 : depth;
    WriteByte(g, codeSize);
    uint32_t option = g->GetCodecOption(FORMAT_GIF);
    if (option == GIF_UNCOMPRESSED)
        CompressNone(g, im, codeSize + 1);
    else if (option == GIF_RLE)
        CompressRle(g, im, codeSize + 1);
    else
        CompressLzw(g, im, codeSize + 1);
    WriteByte(g, 0);
}

// A failed write is a failed encode.
static bool FinishWrite(CDibImageGIF *g)
{
    if (g->writeFailed || g->outStream->Error()) {
        g->SetError(kErrWrite);
        return false;
    }
    return true;
}

// 24-bit pictures: tiles of 17 x 15 pixels, each with its own table of the
// colours it holds (entry 0 is the transparent colour).
static bool EncodeTrueColor(CDibImageGIF *g)
{
    WriteHeader(g, g);
    WriteComment(g, g->comment);
    CDibImageGIF *tile = new (std::nothrow) CDibImageGIF();
    if (!tile)
        return false;
    tile->outStream = g->outStream;
    tile->SetCodecOption(g->GetCodecOption(FORMAT_GIF), FORMAT_GIF);
    int w = g->GetWidth(), h = g->GetHeight();
    bool ok = true;
    for (int y = 0; y < h && ok; y += kTileHeight)
        for (int x = 0; x < w && ok; x += kTileWidth) {
            int tw = w - x < kTileWidth ? w - x : kTileWidth;
            int th = h - y < kTileHeight ? h - y : kTileHeight;
            if ((tile->GetWidth() != tw || tile->GetHeight() != th) &&
                !tile->Create(tw, th, 8, FORMAT_GIF)) {
                ok = false;
                break;
            }
            tile->info.backgroundIndex = -1;
            if (g->info.backgroundIndex >= 0) {
                tile->info.backgroundIndex = 0;
                tile->SetPaletteColor(0, g->GetTransColor());
            }
            int bottom = h - y - th;   // source row of the tile's bottom row
            for (int j = 0; j < th; j++)
                for (int i = 0; i < tw; i++)
                    tile->SetPaletteColor(1 + kTileWidth * j + i, g->GetPixelColor(x + i, bottom + j));
            for (int j = 0; j < th; j++)
                for (int i = 0; i < tw; i++)
                    tile->SetPixelIndex(i, j, (uint8_t)tile->GetNearestIndex(g->GetPixelColor(x + i, bottom + j)));
            tile->info.xOffset = x;
            tile->info.yOffset = y;
            WriteControl(g, tile, tile->info.displayMethod);
            WriteImage(tile, tile, true);
            g->writeFailed = g->writeFailed || tile->writeFailed;
        }
    delete tile;
    WriteByte(g, 0x3B);
    return ok && FinishWrite(g);
}

static bool CheckFrames(CDibImageGIF *g, CDibImage **list, int count)
{
    if (!list || count <= 0 || !list[0]) {
        g->SetError(kErrNoImages);
        return false;
    }
    for (int i = 0; i < count; i++) {
        const char *problem = !list[i] ? kErrBadPointer : !list[i]->IsValid() ? kErrEmpty
                              : !list[i]->GetNumColors()                        ? kErrTrueColor
                                                                                : 0;
        if (problem) {
            g->SetError(problem);
            return false;
        }
    }
    return true;
}

bool CDibImageGIF::EncodeFrames(CByteStream *stream, CDibImage **list, int count, bool localTables,
                                bool perFrameDisposal)
{
    if (!stream) {
        SetError(kErrStream);
        return false;
    }
    if (!CheckFrames(this, list, count))
        return false;
    outStream = stream;
    writeFailed = false;
    CDibImageGIF *ghost = new (std::nothrow) CDibImageGIF();
    if (!ghost)
        return false;
    ghost->Ghost(*list[0]);
    WriteHeader(this, ghost);
    if (loopCount != 1) {
        ghost->loopCount = loopCount > 1 ? loopCount - 1 : 0;
        WriteLooping(this, ghost->loopCount);
    }
    for (int i = 0; i < count; i++) {
        if (i > 0)
            ghost->Ghost(*list[i]);
        WriteControl(this, ghost, perFrameDisposal ? ghost->info.displayMethod : info.displayMethod);
        if (i == 0)
            WriteComment(this, comment);
        ghost->SetCodecOption(GetCodecOption(FORMAT_GIF), FORMAT_GIF);
        ghost->outStream = stream;
        WriteImage(ghost, ghost, i > 0 && localTables);
        writeFailed = writeFailed || ghost->writeFailed;
    }
    delete ghost;
    WriteByte(this, 0x3B);
    return FinishWrite(this);
}

bool CDibImageGIF::Encode(CByteStream *stream)
{
    if (!CanEncodeTo(stream))
        return false;
    outStream = stream;
    writeFailed = false;
    if (GetBpp() > 8)
        return EncodeTrueColor(this);
    if (frameSlots > 1 && frames)
        return EncodeFrames(stream, frames, frameSlots, false, false);
    WriteHeader(this, this);
    WriteControl(this, this, info.displayMethod);
    WriteComment(this, comment);
    WriteImage(this, this, false);
    WriteByte(this, 0x3B);
    return FinishWrite(this);
}
