// A native skin as the window backends draw it: the window's size, PNG images (kept encoded;
// each backend decodes them with the system's own library), texts, the two bars and the close
// button, all in window pixels. The layout reader (ui/SkinLayoutReader) fills it from a skin
// folder and has checked everything here: every rectangle lies inside the window, every image
// index is valid and every image is a PNG of the size recorded.
// The same on both systems; the state the six skin calls change is here too, so that both
// backends fill their bars alike.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct SkinRect {
    int x = 0, y = 0, nWidth = 0, nHeight = 0;
};

struct SkinColor {
    uint8_t r = 0, g = 0, b = 0, a = 255;
};

struct SkinImage {
    std::wstring strName;
    std::vector<uint8_t> png;    // as stored in the package
    std::vector<uint8_t> png2x;  // the optional twice-as-large variant for scaled screens
    int nWidth = 0, nHeight = 0;
};

// A bar's track or fill: a colour (with rounded ends of nRadius), or an image stretched to
// the rectangle with nBorder pixels at each edge kept as they are.
struct SkinPaint {
    int nImage = -1;  // index into SkinLayout::images, or -1 for the colour
    SkinColor color;
    int nRadius = 0;
    int nBorder = 0;
};

enum class SkinAlign { Left, Center, Right };

struct SkinText {
    SkinRect rect;
    std::wstring strText;  // fixed texts only; labels get theirs from the skin calls
    std::wstring strFont;  // family list for the font machinery; empty = the system's sans
    int nSize = 12;        // pixels
    bool bBold = false;
    SkinColor color;
    SkinAlign align = SkinAlign::Left;
    bool bEllipsis = true;  // a text too long ends in "…"; otherwise it is cut at the edge
    bool bPresent = false;
};

struct SkinBar {
    SkinRect rect;
    SkinPaint track, fill;
    bool bPresent = false;
};

struct SkinButton {
    SkinRect rect;
    int nNormal = -1, nHover = -1, nPressed = -1;
    std::wstring strCommand;  // what pressing it sends, as a skin's script would
    bool bPresent = false;
};

struct SkinLayout {
    int nWidth = 0, nHeight = 0;
    int nBackground = -1;  // its alpha is the window's outline
    std::vector<SkinImage> images;
    SkinText title;
    std::vector<SkinText> texts;  // further fixed texts
    SkinBar install, states;      // overall and step bar
    SkinText installLabel, statesLabel, percent;
    SkinButton close;
};

// What the six skin calls have set.
struct SkinBarState {
    int nMax = 0;
    int nValue = 0;
    std::wstring strLabel;
};

struct SkinState {
    SkinBarState install, states;

    // Applies one call; false for a function a skin does not have.
    bool Apply(const std::wstring& szName, const std::vector<std::wstring>& args) {
        const auto number = [&](size_t i) {
            if (i >= args.size()) return 0;
            try {
                return std::stoi(args[i]);
            } catch (...) {
                return 0;
            }
        };
        const auto arg = [&](size_t i) { return i < args.size() ? args[i] : std::wstring(); };
        const bool bInstall = szName.rfind(L"SetInstall", 0) == 0;
        if (!bInstall && szName.rfind(L"SetStates", 0) != 0) return false;
        SkinBarState& bar = bInstall ? install : states;
        const std::wstring rest = szName.substr(bInstall ? 10 : 9);
        if (rest == L"ProgressMaxValue") {
            bar.nMax = number(0);
            bar.nValue = 0;
        } else if (rest == L"ProgressValue") {
            bar.nValue = number(0);
            if (args.size() > 1) bar.nMax = number(1);
        } else if (rest == L"LabelText") {
            bar.strLabel = arg(0);
        } else {
            return false;
        }
        return true;
    }
};

// The filled part of a bar nWidth long, rounded to the nearest pixel.
inline int FilledLength(int nWidth, int nValue, int nMax) {
    if (nMax <= 0 || nValue <= 0) return 0;
    if (nValue >= nMax) return nWidth;
    return static_cast<int>((static_cast<int64_t>(nWidth) * nValue * 2 + nMax) / (2 * static_cast<int64_t>(nMax)));
}

// The overall bar's percentage as the default skin shows it ("" before a maximum is known).
inline std::wstring PercentText(const SkinBarState& bar) {
    if (bar.nMax <= 0) return L"";
    const int v = std::clamp(bar.nValue, 0, bar.nMax);
    return std::to_wstring((static_cast<int64_t>(v) * 200 + bar.nMax) / (2 * static_cast<int64_t>(bar.nMax))) + L"%";
}

}  // namespace platform
