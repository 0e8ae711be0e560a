#pragma once

// A 5 x 7 pixel font for the printable ASCII characters, so that test
// pictures can carry text without any graphics library. Each character takes
// a 6-pixel advance (one blank column) times the scale.

#include "platform/frame_source.h"

#include <cstdint>
#include <string_view>

namespace tessell::preview {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;
inline constexpr int kGlyphAdvance = 6;

// Whether pixel (column, row) of the glyph for `character` is set. Characters
// outside printable ASCII are drawn as '?'.
bool glyphPixel(char character, int column, int row);

// Width in pixels of `text` at `scale`; one glyph per UTF-8 character.
int textWidth(std::string_view text, int scale);

// Draws `text` (UTF-8; characters beyond ASCII as '?') with its top-left at
// (x, y), each font pixel a scale x scale square. Pixels outside the frame are
// clipped.
void drawText(Frame& frame, int x, int y, std::string_view text, std::uint32_t colour, int scale);

} // namespace tessell::preview
