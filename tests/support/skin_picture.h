// Reading the default skin's pictures in the window tests: colours, the background's alpha, the
// bars' filled lengths and the bar states a traced run went through.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/skin_layout.h"
#include "support/window_world.h"

namespace orvo::test {

constexpr uint32_t kDefaultInstallFill = 0x1f6fd6;  // the default skin's bar colours
constexpr uint32_t kDefaultStatesFill = 0x1e9e57;

std::vector<std::string> Split(const std::string& s, char sep);
// The same colour within what a screen's rounding changes.
bool Near(uint32_t a, uint32_t b);
size_t CountNearColor(const std::vector<uint32_t>& px, uint32_t color);
// The alpha of an 8-bit RGBA PNG as the default skin's images are saved; empty when it is not one.
std::vector<uint8_t> PngAlpha(const std::string& path, int* pWidth, int* pHeight);
// The filled length of a bar of the default skin: pixels of the fill colour along its middle row.
int FilledPixels(const std::vector<uint32_t>& px, int w, int barY, uint32_t fill);
// The bar states the skin went through, call by call, from its trace.
std::vector<platform::SkinState> States(const std::vector<std::string>& trace);
// True when the two bars of the picture are filled as far as some state the skin was in says,
// within 2 pixels (the picture may lag a call behind the trace).
bool BarsMatchSomeState(const std::vector<uint32_t>& px, int w, const std::vector<platform::SkinState>& states, std::string* seen);
// A window's shape as one byte per pixel (1 inside) over w x h.
std::vector<uint8_t> ShapeMask(const std::vector<XRect>& shape, int w, int h);

}  // namespace orvo::test
