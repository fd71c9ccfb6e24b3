#include "platform/linux/gtk/skin_painter.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/linux/gtk/gtk_util.h"

namespace platform::gtkwin {

namespace {

cairo_surface_t* DecodePng(const std::vector<uint8_t>& png) {
    struct Cursor {
        const std::vector<uint8_t>* bytes;
        size_t at;
    } cursor{&png, 0};
    return cairo_image_surface_create_from_png_stream(
        [](void* p, unsigned char* data, unsigned int length) -> cairo_status_t {
            auto* c = static_cast<Cursor*>(p);
            if (c->bytes->size() - c->at < length) return CAIRO_STATUS_READ_ERROR;
            std::memcpy(data, c->bytes->data() + c->at, length);
            c->at += length;
            return CAIRO_STATUS_SUCCESS;
        },
        &cursor);
}

bool Bad(cairo_surface_t* s, int w, int h) {
    return cairo_surface_status(s) != CAIRO_STATUS_SUCCESS || cairo_image_surface_get_width(s) != w || cairo_image_surface_get_height(s) != h;
}

void SetColor(cairo_t* cr, const SkinColor& c) { cairo_set_source_rgba(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0, c.a / 255.0); }

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
    r = std::min({r, w / 2, h / 2});
    if (r <= 0) {
        cairo_rectangle(cr, x, y, w, h);
        return;
    }
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

}  // namespace

std::unique_ptr<SkinPainter> SkinPainter::Create(const SkinLayout& layout, std::string* pszWhy) {
    std::unique_ptr<SkinPainter> painter(new SkinPainter(layout));
    for (SkinImage& img : painter->m_layout.images) {
        Decoded d;
        d.one = DecodePng(img.png);
        painter->m_images.push_back(d);
        if (Bad(d.one, img.nWidth, img.nHeight)) {
            *pszWhy = Utf8(img.strName) + " cannot be decoded as a PNG image";
            return nullptr;
        }
        // Decoded only when drawn: most screens never need the 2x images.
        std::vector<uint8_t>().swap(img.png);
    }
    return painter;
}

SkinPainter::~SkinPainter() {
    for (const Decoded& d : m_images) {
        if (d.one != nullptr) cairo_surface_destroy(d.one);
        if (d.two != nullptr) cairo_surface_destroy(d.two);
    }
}

cairo_surface_t* SkinPainter::Surface(int nImage, int nScale) const {
    Decoded& d = m_images[nImage];
    if (nScale >= 2 && !d.bTriedTwo) {
        d.bTriedTwo = true;
        SkinImage& img = m_layout.images[nImage];
        if (!img.png2x.empty()) {
            d.two = DecodePng(img.png2x);
            // A 2x image that does not decode leaves the 1x one enlarged.
            if (Bad(d.two, 2 * img.nWidth, 2 * img.nHeight)) {
                cairo_surface_destroy(d.two);
                d.two = nullptr;
            } else {
                cairo_surface_set_device_scale(d.two, 2, 2);
            }
            std::vector<uint8_t>().swap(img.png2x);
        }
    }
    return nScale >= 2 && d.two != nullptr ? d.two : d.one;
}

void SkinPainter::PaintImage(cairo_t* cr, int nImage, int nScale, const SkinRect& to, int nBorder) const {
    cairo_surface_t* s = Surface(nImage, nScale);
    const SkinImage& img = m_layout.images[nImage];
    const double iw = img.nWidth, ih = img.nHeight, b = nBorder;
    // Nine parts: the corners as they are, the edges stretched one way, the middle both ways.
    const double sx[4] = {0, b, iw - b, iw}, sy[4] = {0, b, ih - b, ih};
    const double dx[4] = {0, b, to.nWidth - b, static_cast<double>(to.nWidth)}, dy[4] = {0, b, to.nHeight - b, static_cast<double>(to.nHeight)};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            const double sw = sx[col + 1] - sx[col], sh = sy[row + 1] - sy[row];
            const double dw = dx[col + 1] - dx[col], dh = dy[row + 1] - dy[row];
            if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) continue;
            cairo_save(cr);
            cairo_translate(cr, to.x + dx[col], to.y + dy[row]);
            cairo_rectangle(cr, 0, 0, dw, dh);
            cairo_clip(cr);
            cairo_scale(cr, dw / sw, dh / sh);
            cairo_set_source_surface(cr, s, -sx[col], -sy[row]);
            cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
            cairo_paint(cr);
            cairo_restore(cr);
        }
    }
}

void SkinPainter::PaintPaint(cairo_t* cr, int nScale, const SkinPaint& paint, const SkinRect& to, int nFullWidth) const {
    if (to.nWidth <= 0) return;
    if (paint.nImage >= 0) {
        // A fill shorter than its two borders is the full-width picture cut off, not squeezed.
        if (to.nWidth < 2 * paint.nBorder) {
            cairo_save(cr);
            cairo_rectangle(cr, to.x, to.y, to.nWidth, to.nHeight);
            cairo_clip(cr);
            PaintImage(cr, paint.nImage, nScale, {to.x, to.y, std::min(nFullWidth, 2 * paint.nBorder), to.nHeight}, paint.nBorder);
            cairo_restore(cr);
            return;
        }
        PaintImage(cr, paint.nImage, nScale, to, paint.nBorder);
        return;
    }
    SetColor(cr, paint.color);
    RoundedRect(cr, to.x, to.y, to.nWidth, to.nHeight, paint.nRadius);
    cairo_fill(cr);
}

void SkinPainter::PaintBar(cairo_t* cr, int nScale, const SkinBar& bar, const SkinBarState& state) const {
    PaintPaint(cr, nScale, bar.track, bar.rect, bar.rect.nWidth);
    SkinRect filled = bar.rect;
    filled.nWidth = FilledLength(bar.rect.nWidth, state.nValue, state.nMax);
    PaintPaint(cr, nScale, bar.fill, filled, bar.rect.nWidth);
}

void SkinPainter::PaintText(cairo_t* cr, const SkinText& t, const std::wstring& szText) const {
    if (!t.bPresent || szText.empty()) return;
    cairo_save(cr);
    cairo_rectangle(cr, t.rect.x, t.rect.y, t.rect.nWidth, t.rect.nHeight);
    cairo_clip(cr);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    // The font machinery falls back per character, so Korean labels find a font that has them.
    PangoFontDescription* font = pango_font_description_from_string(t.strFont.empty() ? "Sans" : Utf8(t.strFont).c_str());
    pango_font_description_set_absolute_size(font, t.nSize * PANGO_SCALE);
    pango_font_description_set_weight(font, t.bBold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    pango_layout_set_width(layout, t.rect.nWidth * PANGO_SCALE);
    pango_layout_set_ellipsize(layout, t.bEllipsis ? PANGO_ELLIPSIZE_END : PANGO_ELLIPSIZE_NONE);
    pango_layout_set_alignment(layout, t.align == SkinAlign::Center  ? PANGO_ALIGN_CENTER
                                       : t.align == SkinAlign::Right ? PANGO_ALIGN_RIGHT
                                                                     : PANGO_ALIGN_LEFT);
    const std::string text = Utf8(szText);
    pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));
    int w = 0, h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    SetColor(cr, t.color);
    cairo_move_to(cr, t.rect.x, t.rect.y + (t.rect.nHeight - h) / 2.0);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    cairo_restore(cr);
}

void SkinPainter::Paint(cairo_t* cr, int nScale, const SkinState& state, ButtonLook close) const {
    const SkinLayout& l = m_layout;
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_set_source_surface(cr, Surface(l.nBackground, nScale), 0, 0);
    cairo_paint(cr);
    for (const SkinText& t : l.texts) PaintText(cr, t, t.strText);
    PaintText(cr, l.title, l.title.strText);
    PaintBar(cr, nScale, l.install, state.install);
    PaintBar(cr, nScale, l.states, state.states);
    PaintText(cr, l.installLabel, state.install.strLabel);
    PaintText(cr, l.statesLabel, state.states.strLabel);
    PaintText(cr, l.percent, PercentText(state.install));
    const int button = close == ButtonLook::Pressed ? l.close.nPressed : close == ButtonLook::Hover ? l.close.nHover : l.close.nNormal;
    if (button >= 0) {
        cairo_set_source_surface(cr, Surface(button, nScale), l.close.rect.x, l.close.rect.y);
        cairo_paint(cr);
    }
    cairo_restore(cr);
}

}  // namespace platform::gtkwin
