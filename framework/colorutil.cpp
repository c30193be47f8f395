// Colour byte order and HSL arithmetic.
#include "framework/utilities.h"

#include <math.h>

COLORREF SwapRedBlue(COLORREF colour)
{
    return (colour & 0xFF00FF00u) | (colour & 0xFF) << 16 | (colour >> 16 & 0xFF);
}

uint32_t ColorRefToArgb(COLORREF colour, uint8_t alpha)
{
    return (uint32_t)alpha << 24 | (SwapRedBlue(colour) & 0xFFFFFF);
}

// Computed on the 0..255 channel values in integers, so that every
// truncation to a byte is exact (a hue of exactly 120 degrees gives 85, never
// 84.999... -> 84).
static uint32_t HueByte(int red, int green, int blue, int top, int delta)
{
    int sixths;   // hue in degrees x delta / 60
    if (red == top) {
        sixths = 6 * delta + green - blue;
        if (sixths > 6 * delta)
            sixths -= 6 * delta;   // above 360 degrees; exactly 360 stays
    } else if (green == top) {
        sixths = 2 * delta + blue - red;
    } else {
        sixths = 4 * delta + red - green;
    }
    return (uint32_t)(sixths * 255 / (6 * delta));
}

uint32_t RgbToHsl(COLORREF colour)
{
    int red = GetRValue(colour), green = GetGValue(colour), blue = GetBValue(colour);
    int top = red > green ? red : green, bottom = red < green ? red : green;
    if (blue > top)
        top = blue;
    if (blue < bottom)
        bottom = blue;
    int delta = top - bottom, sum = top + bottom;
    uint32_t lightness = (uint32_t)(sum / 2);
    if (delta == 0)
        return lightness << 8;   // grey: hue and saturation 0
    // Lightness below 0.5 means sum below 255.
    uint32_t saturation = (uint32_t)(sum < 255 ? 255 * delta / sum : 255 * delta / (510 - sum));
    return HueByte(red, green, blue, top, delta) | lightness << 8 | saturation << 16;
}

static double Clamp(double value, double low, double high)
{
    if (!(value >= low))   // also catches NaN
        return low;
    return value > high ? high : value;
}

static double WrapDegrees(double hue)
{
    if (!isfinite(hue))
        return 0;
    hue = fmod(hue, 360.0);
    return hue < 0 ? hue + 360.0 : hue;
}

static double HueToChannel(double p, double q, double hue)
{
    hue = WrapDegrees(hue);
    if (hue < 60)
        return p + (q - p) * hue / 60;
    if (hue < 180)
        return q;
    if (hue < 240)
        return p + (q - p) * (240 - hue) / 60;
    return p;
}

static uint8_t ChannelByte(double value)
{
    return (uint8_t)Clamp(value * 255 + 0.5, 0, 255);
}

void HslToRgb(double hueDegrees, double lightness, double saturation, uint8_t *red,
              uint8_t *green, uint8_t *blue)
{
    double l = Clamp(lightness, 0, 1), s = Clamp(saturation, 0, 1);
    double r = l, g = l, b = l;
    if (s > 0) {
        double q = l <= 0.5 ? l * (1 + s) : l + s - l * s;
        double p = 2 * l - q;
        r = HueToChannel(p, q, hueDegrees + 120);
        g = HueToChannel(p, q, hueDegrees);
        b = HueToChannel(p, q, hueDegrees - 120);
    }
    if (red)
        *red = ChannelByte(r);
    if (green)
        *green = ChannelByte(g);
    if (blue)
        *blue = ChannelByte(b);
}

// The hue byte runs once round the circle in 255 steps (255 is 360 degrees,
// the same as 0), so shifts wrap modulo 255.
COLORREF AdjustColorHsl(COLORREF colour, double hueShift, double lightnessFactor,
                        double saturationFactor)
{
    uint32_t hsl = RgbToHsl(colour);
    double hue = (hsl & 0xFF) + Clamp(hueShift, -1e6, 1e6) * 255;
    hue = fmod(hue, 255.0);
    if (hue < 0)
        hue += 255;
    double lightness = Clamp((hsl >> 8 & 0xFF) * (1 + lightnessFactor), 0, 255);
    double saturation = Clamp((hsl >> 16 & 0xFF) * (1 + saturationFactor), 0, 255);
    uint8_t red, green, blue;
    HslToRgb(hue * 360 / 255, lightness / 255, saturation / 255, &red, &green, &blue);
    return RGB(red, green, blue);
}
