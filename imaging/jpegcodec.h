// JPEG codec over libjpeg, with stream, error and destination managers of
// its own so that all bytes pass through a CByteStream.
#pragma once

class CDibImage;
class CByteStream;

bool DecodeJpeg(CDibImage *out, CByteStream *stream);
bool EncodeJpeg(CDibImage *ghost, CByteStream *stream);
