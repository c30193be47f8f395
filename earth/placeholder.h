// The picture that stands in for the wallpaper and screen-saver images until
// the first render finishes: black, with the program's title in grey.
#pragma once

// Writes a width x height 24-bit BMP. 0 on success, else the letter of the
// failed step: 'J' no memory DC, 'K' no bitmap section, 'L' bitmap or font
// not selected, 'M' text not drawn, 'N' file not created, 'O' write failed.
int WritePlaceholderImage(const char *path, int width, int height);

// Bytes per BMP row of a 24-bit picture, padded to four bytes.
int Bmp24RowStride(int width);
