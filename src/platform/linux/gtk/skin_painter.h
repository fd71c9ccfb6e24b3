// Draws a native skin with Cairo and Pango: the images decoded once, then the whole skin drawn
// for the state its calls have set. Used for the window and for the picture its shape is
// taken from.
#pragma once

#include <cairo.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/skin_layout.h"

namespace platform::gtkwin {

enum class ButtonLook { Normal, Hover, Pressed };

class SkinPainter {
public:
    // Null, with the reason, when an image cannot be decoded or is not the size its header said.
    static std::unique_ptr<SkinPainter> Create(const SkinLayout& layout, std::string* pszWhy);
    ~SkinPainter();
    SkinPainter(const SkinPainter&) = delete;
    SkinPainter& operator=(const SkinPainter&) = delete;

    const SkinLayout& Layout() const { return m_layout; }
    // Draws over what cr holds, in window pixels; nScale picks the 2x images where there are.
    void Paint(cairo_t* cr, int nScale, const SkinState& state, ButtonLook close) const;

private:
    explicit SkinPainter(const SkinLayout& layout) : m_layout(layout) {}
    struct Decoded {
        cairo_surface_t* one = nullptr;
        cairo_surface_t* two = nullptr;  // device scale 2: drawn at the same logical size
        bool bTriedTwo = false;
    };
    cairo_surface_t* Surface(int nImage, int nScale) const;
    void PaintImage(cairo_t* cr, int nImage, int nScale, const SkinRect& to, int nBorder) const;
    void PaintBar(cairo_t* cr, int nScale, const SkinBar& bar, const SkinBarState& state) const;
    void PaintPaint(cairo_t* cr, int nScale, const SkinPaint& paint, const SkinRect& to, int nFullWidth) const;
    void PaintText(cairo_t* cr, const SkinText& text, const std::wstring& szText) const;

    // The 2x images are decoded on first use, from a const draw.
    mutable SkinLayout m_layout;
    mutable std::vector<Decoded> m_images;
};

}  // namespace platform::gtkwin
