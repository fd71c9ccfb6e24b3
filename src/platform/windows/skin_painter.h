// Draws a native skin with GDI+: the PNG images decoded once (alpha kept, premultiplied), then
// the whole skin drawn for the state its calls have set, into 32-bit premultiplied pixels. Used
// for the window and for the picture its shape is taken from.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/skin_layout.h"

namespace Gdiplus {
class Bitmap;
class Graphics;
}  // namespace Gdiplus

namespace platform::wingui {

enum class ButtonLook { Normal, Hover, Pressed };

class SkinPainter {
public:
    // Null, with the reason, when GDI+ cannot start or an image cannot be decoded or is not the
    // size its header said.
    static std::unique_ptr<SkinPainter> Create(const SkinLayout& layout, std::wstring* pszWhy);
    ~SkinPainter();
    SkinPainter(const SkinPainter&) = delete;
    SkinPainter& operator=(const SkinPainter&) = delete;

    const SkinLayout& Layout() const { return m_layout; }
    // Draws over the pixels (top-down rows, premultiplied BGRA), in window pixels.
    bool Paint(uint8_t* pBits, int nWidth, int nHeight, int nStride, const SkinState& state, ButtonLook close) const;

private:
    explicit SkinPainter(const SkinLayout& layout) : m_layout(layout) {}
    struct Decoded {
        std::vector<uint8_t> pixels;  // the bitmap below draws from these
        std::unique_ptr<Gdiplus::Bitmap> bitmap;
        ~Decoded();
    };
    void PaintImage(Gdiplus::Graphics& g, int nImage, const SkinRect& to, int nBorder) const;
    void PaintPaint(Gdiplus::Graphics& g, const SkinPaint& paint, const SkinRect& to, int nFullWidth) const;
    void PaintBar(Gdiplus::Graphics& g, const SkinBar& bar, const SkinBarState& state) const;
    void PaintText(Gdiplus::Graphics& g, const SkinText& text, const std::wstring& szText) const;

    SkinLayout m_layout;
    std::vector<std::unique_ptr<Decoded>> m_images;
};

}  // namespace platform::wingui
