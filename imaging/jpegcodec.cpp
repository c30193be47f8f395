// JPEG codec. libjpeg reports errors through our error manager, which
// formats the library's message into the image's last-error text and jumps
// back here; nothing unwinds across the library by any other means.
#include "jpegcodec.h"
#include "exif.h"
#include "image.h"
#include "stream.h"

#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <new>

extern "C" {
#include <jpeglib.h>
#include <jerror.h>
}

#define JPEG_BUFFER_SIZE 4096

CDibImageJPG::CDibImageJPG()
    : CDibImage(FORMAT_JPG), exif(0), ditherMode(JDITHER_FS), smoothingFactor(0)
{
    memset(info.exif, 0, sizeof info.exif);
}

CDibImageJPG::~CDibImageJPG()
{
    delete exif;
}

// Option word bits (codec option of the JPEG slot).
enum {
    JPO_FORCE_BASELINE = 0x01, JPO_ARITHMETIC = 0x02, JPO_WRITE_GRAY = 0x04,
    JPO_OPTIMIZE = 0x08, JPO_PROGRESSIVE = 0x10, JPO_SMOOTHING = 0x40,
    JPO_READ_GRAY = 0x80, JPO_QUANTIZE = 0x100, JPO_DITHER = 0x200,
    JPO_NO_TWO_PASS = 0x400, JPO_NO_FANCY_UPSAMPLING = 0x800,
    JPO_SUBSAMPLE_422 = 0x1000, JPO_SUBSAMPLE_444 = 0x2000
};


// One record serving as destination manager (encode) or source manager
// (decode); libjpeg sees only the embedded public part it needs.
struct JpegStreamManager {
    struct jpeg_destination_mgr dest;
    struct jpeg_source_mgr src;
    CByteStream *stream;
    JOCTET *buffer;
    boolean startOfFile;
};

struct JpegErrorManager {
    struct jpeg_error_mgr pub;
    jmp_buf jump;
    char *lastError;
};

static void JpegErrorExit(j_common_ptr cinfo)
{
    JpegErrorManager *err = (JpegErrorManager *)cinfo->err;
    char text[JMSG_LENGTH_MAX];
    err->pub.format_message(cinfo, text);
    strncpy(err->lastError, text, 255);
    err->lastError[255] = 0;
    longjmp(err->jump, 1);
}

static JpegStreamManager *ManagerOf(j_decompress_ptr cinfo)
{
    return (JpegStreamManager *)((char *)cinfo->src - offsetof(JpegStreamManager, src));
}

static JpegStreamManager *ManagerOf(j_compress_ptr cinfo)
{
    return (JpegStreamManager *)((char *)cinfo->dest - offsetof(JpegStreamManager, dest));
}

// Source procedures

static void SourceInit(j_decompress_ptr cinfo)
{
    ManagerOf(cinfo)->startOfFile = TRUE;
}

static boolean SourceFill(j_decompress_ptr cinfo)
{
    JpegStreamManager *m = ManagerOf(cinfo);
    size_t got = m->stream->Read(m->buffer, 1, JPEG_BUFFER_SIZE);
    if (got == 0) {
        if (m->startOfFile)
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        // An end-of-image marker lets the decoder finish what it has.
        m->buffer[0] = 0xFF;
        m->buffer[1] = JPEG_EOI;
        got = 2;
    }
    m->src.next_input_byte = m->buffer;
    m->src.bytes_in_buffer = got;
    m->startOfFile = FALSE;
    return TRUE;
}

static void SourceSkip(j_decompress_ptr cinfo, long count)
{
    if (count <= 0)
        return;
    JpegStreamManager *m = ManagerOf(cinfo);
    while (count > (long)m->src.bytes_in_buffer) {
        count -= (long)m->src.bytes_in_buffer;
        SourceFill(cinfo);
    }
    m->src.next_input_byte += count;
    m->src.bytes_in_buffer -= count;
}

static void SourceTerm(j_decompress_ptr) {}

// Destination procedures

static void DestInit(j_compress_ptr cinfo)
{
    JpegStreamManager *m = ManagerOf(cinfo);
    m->dest.next_output_byte = m->buffer;
    m->dest.free_in_buffer = JPEG_BUFFER_SIZE;
}

static boolean DestEmpty(j_compress_ptr cinfo)
{
    JpegStreamManager *m = ManagerOf(cinfo);
    if (m->stream->Write(m->buffer, 1, JPEG_BUFFER_SIZE) != JPEG_BUFFER_SIZE)
        ERREXIT(cinfo, JERR_FILE_WRITE);
    m->dest.next_output_byte = m->buffer;
    m->dest.free_in_buffer = JPEG_BUFFER_SIZE;
    return TRUE;
}

static void DestTerm(j_compress_ptr cinfo)
{
    JpegStreamManager *m = ManagerOf(cinfo);
    size_t held = JPEG_BUFFER_SIZE - m->dest.free_in_buffer;
    if (held > 0 && m->stream->Write(m->buffer, 1, held) != held)
        ERREXIT(cinfo, JERR_FILE_WRITE);
    m->stream->Flush();
    if (m->stream->Error())
        ERREXIT(cinfo, JERR_FILE_WRITE);
}

static bool InitManager(JpegStreamManager *m, CByteStream *stream)
{
    memset(m, 0, sizeof *m);
    m->stream = stream;
    m->buffer = (JOCTET *)malloc(JPEG_BUFFER_SIZE);
    m->src.init_source = SourceInit;
    m->src.fill_input_buffer = SourceFill;
    m->src.skip_input_data = SourceSkip;
    m->src.resync_to_restart = jpeg_resync_to_restart;
    m->src.term_source = SourceTerm;
    m->dest.init_destination = DestInit;
    m->dest.empty_output_buffer = DestEmpty;
    m->dest.term_destination = DestTerm;
    return m->buffer != 0;
}

// Decode

static void ScanExif(CByteStream *stream, ExifReader *reader)
{
    long start = stream->Tell();
    reader->Scan(stream, EXIF_READ_EXIF);
    stream->Seek(start, 0);
}

static void ApplyDecodeOptions(j_decompress_ptr cinfo, CDibImageJPG *out)
{
    uint32_t options = out->GetCodecOption(FORMAT_JPG);
    if (options & JPO_READ_GRAY)
        cinfo->out_color_space = JCS_GRAYSCALE;
    if (options & JPO_QUANTIZE) {
        cinfo->quantize_colors = TRUE;
        cinfo->desired_number_of_colors = out->GetJpegQuality();
    }
    if (options & JPO_DITHER)
        cinfo->dither_mode = (J_DITHER_MODE)out->ditherMode;
    if (options & JPO_NO_TWO_PASS)
        cinfo->two_pass_quantize = FALSE;
    if (options & JPO_NO_FANCY_UPSAMPLING)
        cinfo->do_fancy_upsampling = FALSE;
    cinfo->scale_num = 1;
    cinfo->scale_denom = out->GetJpegScale() ? out->GetJpegScale() : 1;
}

static void SetResolution(j_decompress_ptr cinfo, CDibImage *out, const ExifRecord *exif)
{
    if (exif->isExif && exif->xResolution != 0 && exif->resolutionUnit != 0 &&
        exif->yResolution != 0) {
        out->SetXDPI((int)(exif->xResolution / exif->resolutionUnit));
        out->SetYDPI((int)(exif->yResolution / exif->resolutionUnit));
        return;
    }
    if (cinfo->density_unit == 2) {
        out->SetXDPI((int)(cinfo->X_density * 2.54 + 0.5));
        out->SetYDPI((int)(cinfo->Y_density * 2.54 + 0.5));
    } else if (cinfo->density_unit != 0) {
        out->SetXDPI(cinfo->X_density);
        out->SetYDPI(cinfo->Y_density);
    } else if (cinfo->X_density && cinfo->Y_density) {
        float ratio = (float)cinfo->Y_density / (float)cinfo->X_density;
        out->SetYDPI((int)(ratio * (float)out->GetXDPI()));
    }
}

static void SetDecodedPalette(j_decompress_ptr cinfo, CDibImage *out)
{
    if (cinfo->quantize_colors) {
        int n = cinfo->actual_number_of_colors;
        for (int i = 0; i < n && i < 256; i++) {
            if (cinfo->out_color_components == 3)
                out->SetPaletteColor(i, cinfo->colormap[0][i], cinfo->colormap[1][i],
                                     cinfo->colormap[2][i]);
            else
                out->SetPaletteColor(i, cinfo->colormap[0][i], cinfo->colormap[0][i],
                                     cinfo->colormap[0][i]);
        }
        // The block keeps its 256 entries (one layout for every 8-bit image);
        // the count the library chose is what the nearest-colour search and
        // the writers take as the colours that matter.
        out->SetClrImportant(n);
    } else if (cinfo->output_components == 1) {
        out->SetGrayPalette();
    }
}

static void CopyScanline(j_decompress_ptr cinfo, const JSAMPLE *row, unsigned char *dst,
                         int stride)
{
    int width = (int)cinfo->output_width;
    if (cinfo->output_components == 4 && !cinfo->quantize_colors) {
        for (int x = 0; x < width; x++, row += 4, dst += 3) {
            int k = row[3];
            dst[0] = (unsigned char)(k * row[2] / 255);
            dst[1] = (unsigned char)(k * row[1] / 255);
            dst[2] = (unsigned char)(k * row[0] / 255);
        }
        return;
    }
    int bytes = width * cinfo->output_components;
    memcpy(dst, row, bytes < stride ? bytes : stride);
}

static bool SwapRedBlue(CDibImage *out)
{
    for (int y = 0; y < out->GetHeight(); y++) {
        if (out->IsCancelled())
            return false;
        unsigned char *p = out->GetBits(y);
        for (int x = 0; x < out->GetWidth(); x++, p += 3) {
            unsigned char t = p[0];
            p[0] = p[2];
            p[2] = t;
        }
    }
    return true;
}

// The part of the decode that libjpeg may leave by longjmp. Answers false
// for a cancel or a failed Create (their text is already in place).
static bool DecodeBody(j_decompress_ptr cinfo, CDibImageJPG *out, const ExifRecord *exif)
{
    jpeg_read_header(cinfo, TRUE);
    ApplyDecodeOptions(cinfo, out);
    if (out->info.escape == -1) {
        jpeg_calc_output_dimensions(cinfo);
        out->head.biWidth = (LONG)cinfo->output_width;
        out->head.biHeight = (LONG)cinfo->output_height;
        out->info.format = FORMAT_JPG;
        return true;
    }
    jpeg_start_decompress(cinfo);
    int bpp = cinfo->output_components == 1 ? 8 : 24;
    if (!out->Create((int)cinfo->output_width, (int)cinfo->output_height, bpp, FORMAT_JPG))
        return false;
    SetResolution(cinfo, out, exif);
    SetDecodedPalette(cinfo, out);
    JSAMPARRAY row = (*cinfo->mem->alloc_sarray)((j_common_ptr)cinfo, JPOOL_IMAGE,
                                                  cinfo->output_width * cinfo->output_components, 1);
    int height = out->GetHeight();
    while (cinfo->output_scanline < cinfo->output_height) {
        if (out->IsCancelled())
            return false;
        int line = (int)cinfo->output_scanline;
        jpeg_read_scanlines(cinfo, row, 1);
        CopyScanline(cinfo, row[0], out->GetBits(height - 1 - line), out->GetRowStride());
        out->info.progress = (int)cinfo->output_scanline * 100 / height;
    }
    jpeg_finish_decompress(cinfo);
    if (cinfo->output_components == 3 && !cinfo->quantize_colors)
        return SwapRedBlue(out);
    return true;
}

bool CDibImageJPG::Decode(CByteStream *stream)
{
    if (!stream)
        return false;
    ExifRecord *record = (ExifRecord *)info.exif;
    memset(info.exif, 0, sizeof info.exif);
    delete exif;
    exif = new (std::nothrow) ExifReader(record);
    if (exif)
        ScanExif(stream, exif);

    JpegStreamManager manager;
    if (!InitManager(&manager, stream)) {
        SetError("Could not allocate memory");
        return false;
    }
    struct jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = JpegErrorExit;
    err.lastError = info.lastError;
    volatile bool ok = false;
    if (setjmp(err.jump) == 0) {
        jpeg_create_decompress(&cinfo);
        cinfo.src = &manager.src;
        ok = DecodeBody(&cinfo, this, record);
    }
    jpeg_destroy_decompress(&cinfo);
    free(manager.buffer);
    // The thumbnail lies in the reader's sections, which go with this codec
    // object; the record handed to the caller must not point at them.
    record->thumbnailPointer = 0;
    return ok;
}

// Encode

static void ApplyEncodeOptions(j_compress_ptr cinfo, CDibImageJPG *ghost)
{
    uint32_t options = ghost->GetCodecOption(FORMAT_JPG);
    if (options & JPO_WRITE_GRAY)
        jpeg_set_colorspace(cinfo, JCS_GRAYSCALE);
    if (options & JPO_ARITHMETIC)
        cinfo->arith_code = TRUE;
    if (options & JPO_OPTIMIZE)
        cinfo->optimize_coding = TRUE;
    if (options & JPO_PROGRESSIVE)
        jpeg_simple_progression(cinfo);
    if (options & JPO_SMOOTHING)
        cinfo->smoothing_factor = ghost->smoothingFactor;
    jpeg_set_quality(cinfo, ghost->GetJpegQuality(), (options & JPO_FORCE_BASELINE) ? TRUE : FALSE);
    if (cinfo->num_components >= 3) {
        int h = 2, v = 2;
        if (options & JPO_SUBSAMPLE_422)
            v = 1;
        if (options & JPO_SUBSAMPLE_444)
            h = v = 1;
        cinfo->comp_info[0].h_samp_factor = h;
        cinfo->comp_info[0].v_samp_factor = v;
        for (int i = 1; i < cinfo->num_components; i++)
            cinfo->comp_info[i].h_samp_factor = cinfo->comp_info[i].v_samp_factor = 1;
    }
    cinfo->density_unit = 1;
    cinfo->X_density = (UINT16)ghost->GetXDPI();
    cinfo->Y_density = (UINT16)ghost->GetYDPI();
}

// One picture row in the layout libjpeg expects. 24-bit and 8-bit grey
// rows are copied; any other depth goes through the pixel accessors, since
// a raw copy would hand libjpeg bytes of the wrong size.
static void FillEncodeRow(CDibImage *ghost, int y, bool gray, JSAMPLE *row)
{
    int width = ghost->GetWidth(), bpp = ghost->GetBpp();
    if ((gray && bpp == 8) || (!gray && bpp == 24)) {
        memcpy(row, ghost->GetBits(y), ghost->GetRowStride());
        if (!gray)
            for (int x = 0; x < width; x++) {
                JSAMPLE t = row[3 * x];
                row[3 * x] = row[3 * x + 2];
                row[3 * x + 2] = t;
            }
        return;
    }
    for (int x = 0; x < width; x++) {
        RGBQUAD c = ghost->BlindGetPixelColor(x, y);
        if (gray) {
            row[x] = c.rgbRed;
        } else {
            row[3 * x] = c.rgbRed;
            row[3 * x + 1] = c.rgbGreen;
            row[3 * x + 2] = c.rgbBlue;
        }
    }
}

static void EncodeBody(j_compress_ptr cinfo, CDibImageJPG *ghost)
{
    bool gray = ghost->IsGrayScale();
    cinfo->image_width = (JDIMENSION)ghost->GetWidth();
    cinfo->image_height = (JDIMENSION)ghost->GetHeight();
    cinfo->input_components = gray ? 1 : 3;
    cinfo->in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(cinfo);
    ApplyEncodeOptions(cinfo, ghost);
    jpeg_start_compress(cinfo, TRUE);
    int stride = ghost->GetRowStride(), width = ghost->GetWidth();
    int rowBytes = (stride > 3 * width ? stride : 3 * width) + 8;
    JSAMPARRAY row = (*cinfo->mem->alloc_sarray)((j_common_ptr)cinfo, JPOOL_IMAGE, rowBytes, 1);
    int height = ghost->GetHeight();
    while (cinfo->next_scanline < cinfo->image_height) {
        int line = (int)cinfo->next_scanline;
        ghost->info.progress = line * 100 / height;
        FillEncodeRow(ghost, height - 1 - line, gray, row[0]);
        jpeg_write_scanlines(cinfo, row, 1);
    }
    jpeg_finish_compress(cinfo);
}

bool CDibImageJPG::Encode(CByteStream *stream)
{
    if (!CanEncodeTo(stream))
        return false;
    if (IsIndexed() && !IsGrayScale()) {
        SetError("JPEG can save only RGB or GreyScale images");
        return false;
    }
    JpegStreamManager manager;
    if (!InitManager(&manager, stream)) {
        SetError("Could not allocate memory");
        return false;
    }
    struct jpeg_compress_struct cinfo;
    JpegErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = JpegErrorExit;
    err.lastError = info.lastError;
    volatile bool ok = false;
    if (setjmp(err.jump) == 0) {
        jpeg_create_compress(&cinfo);
        cinfo.dest = &manager.dest;
        EncodeBody(&cinfo, this);
        ok = true;
    }
    jpeg_destroy_compress(&cinfo);
    free(manager.buffer);
    return ok;
}
