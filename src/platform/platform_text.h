#pragma once
// The platform's text output onto a 32-bit surface: fonts are found through
// fontconfig by name, bold and italic, and rendered with FreeType. Sizes,
// metrics and the way glyph pixels land on the surface follow what text drawn
// on a 32-bit device-independent bitmap looks like: the cell's top-left is the
// drawing position, the background stays untouched, every pixel a glyph
// touches gets the coverage-blended font colour and an alpha byte of 0.
#include <cstdint>
#include <string>

#include "platform_graphics.h"

struct TTextExtent {
  int32_t cx = 0, cy = 0;
};

struct TTextMetrics {
  int32_t Height = 0;           // Ascent + Descent: the line cell
  int32_t Ascent = 0;           // cell top to baseline
  int32_t Descent = 0;          // baseline to cell bottom
  int32_t InternalLeading = 0;  // Height minus the em height
  int32_t ExternalLeading = 0;  // extra line gap the font asks for
  int32_t AveCharWidth = 0;
  int32_t MaxCharWidth = 0;
};

// Width (sum of the advances, no kerning) and height (the cell height) of a
// single line of UTF-8 text.
TTextExtent PlatformTextExtent(const TFont& Font, const std::string& Utf8);

// Draws one line of UTF-8 text with the cell's top-left at (X, Y), clipped to
// the surface and, when given, to Clip.
void PlatformTextOut(TPixelSurface& S, int32_t X, int32_t Y, const std::string& Utf8,
                     const TFont& Font, const TPlatformRect* Clip);

TTextMetrics PlatformTextMetrics(const TFont& Font);

// The font file fontconfig picks for a family name and style (for diagnostics
// and tests); empty when nothing matched.
std::string PlatformFontFile(const std::string& Name, uint8_t Style);

// The family name of the face that a font name resolves to.
std::string PlatformFontFamily(const std::string& Name, uint8_t Style);
