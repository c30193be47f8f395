// Proves each cross-built dependency links statically and works under Wine.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <zlib.h>
#include <png.h>
#include <tiffio.h>
extern "C" {
#include <jpeglib.h>
}
#include <openssl/ssl.h>

TEST(Dependencies, LibjpegSpeaksApiVersion8)
{
    EXPECT_EQ(JPEG_LIB_VERSION, 80);
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    EXPECT_EQ(cinfo.global_state, 100);  // CSTATE_START
    jpeg_destroy_compress(&cinfo);
}

TEST(Dependencies, LibpngAnswersItsVersion)
{
    EXPECT_EQ(png_access_version_number() / 100, 106u);
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, 0, 0, 0);
    ASSERT_NE(png, nullptr);
    png_destroy_read_struct(&png, 0, 0);
}

TEST(Dependencies, LibtiffAnswersItsVersion)
{
    const char *v = TIFFGetVersion();
    ASSERT_NE(v, nullptr);
    EXPECT_NE(strstr(v, "LIBTIFF"), nullptr) << v;
    EXPECT_NE(TIFFFindCODEC(COMPRESSION_JPEG), nullptr);
    EXPECT_NE(TIFFFindCODEC(COMPRESSION_ADOBE_DEFLATE), nullptr);
}

TEST(Dependencies, ZlibRoundTrip)
{
    const char text[] = "Veltaspar Veltaspar Veltaspar";
    Bytef packed[128], plain[128];
    uLongf packedLen = sizeof packed, plainLen = sizeof plain;
    ASSERT_EQ(compress(packed, &packedLen, (const Bytef *)text, sizeof text), Z_OK);
    ASSERT_EQ(uncompress(plain, &plainLen, packed, packedLen), Z_OK);
    EXPECT_EQ(plainLen, sizeof text);
    EXPECT_STREQ((const char *)plain, text);
    EXPECT_EQ(crc32(0, (const Bytef *)"abc", 3), 0x352441C2u);
}

TEST(Dependencies, OpenSslCreatesTls12ClientContext)
{
    SSL_library_init();
    SSL_load_error_strings();
    SSL_CTX *ctx = SSL_CTX_new(TLSv1_2_client_method());
    ASSERT_NE(ctx, nullptr);
    SSL *ssl = SSL_new(ctx);
    ASSERT_NE(ssl, nullptr);
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    // The older connection types exist too.
    EXPECT_NE(SSLv3_client_method(), nullptr);
    EXPECT_NE(TLSv1_client_method(), nullptr);
    EXPECT_NE(TLSv1_1_client_method(), nullptr);
}
