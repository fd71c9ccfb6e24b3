#include "platform/windows/skin_painter.h"

#include <objidl.h>
#include <shlwapi.h>
// The GDI+ headers expect the min/max of the Windows headers, which this build turns off.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <cstring>

namespace platform::wingui {

namespace {

// GDI+ is started once for the process and left running: windows come and go, the library stays.
bool StartGdiplus() {
    static const bool started = [] {
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR token = 0;
        return Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    }();
    return started;
}

Gdiplus::Color ToColor(const SkinColor& c) { return Gdiplus::Color(c.a, c.r, c.g, c.b); }

void RoundedRect(Gdiplus::GraphicsPath& path, float x, float y, float w, float h, float r) {
    r = std::min({r, w / 2, h / 2});
    if (r <= 0) {
        path.AddRectangle(Gdiplus::RectF(x, y, w, h));
        return;
    }
    const float d = 2 * r;
    path.AddArc(x + w - d, y, d, d, 270, 90);
    path.AddArc(x + w - d, y + h - d, d, d, 0, 90);
    path.AddArc(x, y + h - d, d, d, 90, 90);
    path.AddArc(x, y, d, d, 180, 90);
    path.CloseFigure();
}

// The font of the first family of the comma-separated list that this system has, then of
// common sans faces; at last whatever GDI maps a sans face to (a system may have none of them).
std::unique_ptr<Gdiplus::Font> MakeFont(const SkinText& t) {
    std::vector<std::wstring> names;
    for (size_t at = 0; at <= t.strFont.size();) {
        size_t end = t.strFont.find(L',', at);
        if (end == std::wstring::npos) end = t.strFont.size();
        std::wstring name = t.strFont.substr(at, end - at);
        name.erase(0, name.find_first_not_of(L" \t\"'"));
        name.erase(name.find_last_not_of(L" \t\"'") + 1);
        if (!name.empty()) names.push_back(name);
        at = end + 1;
    }
    for (const wchar_t* face : {L"Tahoma", L"Microsoft Sans Serif", L"Arial", L"DejaVu Sans", L"Liberation Sans"}) names.push_back(face);
    const INT style = t.bBold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular;
    for (const std::wstring& name : names) {
        Gdiplus::FontFamily family(name.c_str());
        if (family.GetLastStatus() != Gdiplus::Ok || !family.IsAvailable()) continue;
        auto font = std::make_unique<Gdiplus::Font>(&family, static_cast<Gdiplus::REAL>(t.nSize), style, Gdiplus::UnitPixel);
        if (font->GetLastStatus() == Gdiplus::Ok) return font;
    }
    LOGFONTW lf{};
    lf.lfHeight = -t.nSize;
    lf.lfWeight = t.bBold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
    HDC screen = ::GetDC(nullptr);
    auto font = std::make_unique<Gdiplus::Font>(screen, &lf);
    ::ReleaseDC(nullptr, screen);
    return font->GetLastStatus() == Gdiplus::Ok ? std::move(font) : nullptr;
}

}  // namespace

SkinPainter::Decoded::~Decoded() = default;

SkinPainter::~SkinPainter() = default;

std::unique_ptr<SkinPainter> SkinPainter::Create(const SkinLayout& layout, std::wstring* pszWhy) {
    if (!StartGdiplus()) {
        *pszWhy = L"the system's drawing library (GDI+) cannot be started";
        return nullptr;
    }
    std::unique_ptr<SkinPainter> painter(new SkinPainter(layout));
    for (SkinImage& img : painter->m_layout.images) {
        auto d = std::make_unique<Decoded>();
        IStream* stream = ::SHCreateMemStream(img.png.data(), static_cast<UINT>(img.png.size()));
        bool ok = false;
        if (stream != nullptr) {
            std::unique_ptr<Gdiplus::Bitmap> decoded(Gdiplus::Bitmap::FromStream(stream));
            if (decoded && decoded->GetLastStatus() == Gdiplus::Ok && static_cast<int>(decoded->GetWidth()) == img.nWidth &&
                static_cast<int>(decoded->GetHeight()) == img.nHeight) {
                // Copied out premultiplied: the stream goes, and drawing needs no conversion.
                Gdiplus::Rect all(0, 0, img.nWidth, img.nHeight);
                Gdiplus::BitmapData data{};
                if (decoded->LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &data) == Gdiplus::Ok) {
                    const size_t row = static_cast<size_t>(img.nWidth) * 4;
                    d->pixels.resize(row * img.nHeight);
                    for (int y = 0; y < img.nHeight; ++y)
                        std::memcpy(d->pixels.data() + row * y, static_cast<const uint8_t*>(data.Scan0) + static_cast<ptrdiff_t>(data.Stride) * y,
                                    row);
                    decoded->UnlockBits(&data);
                    d->bitmap = std::make_unique<Gdiplus::Bitmap>(img.nWidth, img.nHeight, static_cast<INT>(row), PixelFormat32bppPARGB,
                                                                  d->pixels.data());
                    ok = d->bitmap->GetLastStatus() == Gdiplus::Ok;
                }
            }
            stream->Release();
        }
        if (!ok) {
            *pszWhy = img.strName + L" cannot be decoded as a PNG image";
            return nullptr;
        }
        painter->m_images.push_back(std::move(d));
        // This side draws the 1x images only; the encoded bytes are not needed again.
        std::vector<uint8_t>().swap(img.png);
        std::vector<uint8_t>().swap(img.png2x);
    }
    return painter;
}

void SkinPainter::PaintImage(Gdiplus::Graphics& g, int nImage, const SkinRect& to, int nBorder) const {
    Gdiplus::Bitmap* bitmap = m_images[nImage]->bitmap.get();
    const SkinImage& img = m_layout.images[nImage];
    const float iw = static_cast<float>(img.nWidth), ih = static_cast<float>(img.nHeight), b = static_cast<float>(nBorder);
    const float tw = static_cast<float>(to.nWidth), th = static_cast<float>(to.nHeight);
    // Nine parts: the corners as they are, the edges stretched one way, the middle both ways.
    const float sx[4] = {0, b, iw - b, iw}, sy[4] = {0, b, ih - b, ih};
    const float dx[4] = {0, b, tw - b, tw}, dy[4] = {0, b, th - b, th};
    // Edge pixels repeat past the part instead of blending in what lies beyond it.
    Gdiplus::ImageAttributes attrs;
    attrs.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            const float sw = sx[col + 1] - sx[col], sh = sy[row + 1] - sy[row];
            const float dw = dx[col + 1] - dx[col], dh = dy[row + 1] - dy[row];
            if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) continue;
            const Gdiplus::RectF dest(to.x + dx[col], to.y + dy[row], dw, dh);
            g.DrawImage(bitmap, dest, sx[col], sy[row], sw, sh, Gdiplus::UnitPixel, &attrs);
        }
    }
}

void SkinPainter::PaintPaint(Gdiplus::Graphics& g, const SkinPaint& paint, const SkinRect& to, int nFullWidth) const {
    if (to.nWidth <= 0) return;
    if (paint.nImage >= 0) {
        // A fill shorter than its two borders is the full-width picture cut off, not squeezed.
        if (to.nWidth < 2 * paint.nBorder) {
            Gdiplus::Region saved;
            g.GetClip(&saved);
            g.SetClip(Gdiplus::Rect(to.x, to.y, to.nWidth, to.nHeight), Gdiplus::CombineModeIntersect);
            PaintImage(g, paint.nImage, {to.x, to.y, std::min(nFullWidth, 2 * paint.nBorder), to.nHeight}, paint.nBorder);
            g.SetClip(&saved);
            return;
        }
        PaintImage(g, paint.nImage, to, paint.nBorder);
        return;
    }
    Gdiplus::SolidBrush brush(ToColor(paint.color));
    Gdiplus::GraphicsPath path;
    RoundedRect(path, static_cast<float>(to.x), static_cast<float>(to.y), static_cast<float>(to.nWidth), static_cast<float>(to.nHeight),
                static_cast<float>(paint.nRadius));
    g.FillPath(&brush, &path);
}

void SkinPainter::PaintBar(Gdiplus::Graphics& g, const SkinBar& bar, const SkinBarState& state) const {
    if (!bar.bPresent) return;
    PaintPaint(g, bar.track, bar.rect, bar.rect.nWidth);
    SkinRect filled = bar.rect;
    filled.nWidth = FilledLength(bar.rect.nWidth, state.nValue, state.nMax);
    PaintPaint(g, bar.fill, filled, bar.rect.nWidth);
}

void SkinPainter::PaintText(Gdiplus::Graphics& g, const SkinText& t, const std::wstring& szText) const {
    if (!t.bPresent || szText.empty()) return;
    const auto font = MakeFont(t);
    if (!font) return;  // no font at all: the rest of the skin still shows
    Gdiplus::StringFormat format(Gdiplus::StringFormatFlagsNoWrap);
    format.SetAlignment(t.align == SkinAlign::Center  ? Gdiplus::StringAlignmentCenter
                        : t.align == SkinAlign::Right ? Gdiplus::StringAlignmentFar
                                                      : Gdiplus::StringAlignmentNear);
    format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
    format.SetTrimming(t.bEllipsis ? Gdiplus::StringTrimmingEllipsisCharacter : Gdiplus::StringTrimmingNone);
    // No prefix handling: a label's '&' is shown as it is.
    format.SetHotkeyPrefix(Gdiplus::HotkeyPrefixNone);
    Gdiplus::SolidBrush brush(ToColor(t.color));
    const Gdiplus::RectF rect(static_cast<float>(t.rect.x), static_cast<float>(t.rect.y), static_cast<float>(t.rect.nWidth),
                              static_cast<float>(t.rect.nHeight));
    Gdiplus::Region saved;
    g.GetClip(&saved);
    g.SetClip(rect, Gdiplus::CombineModeIntersect);
    g.DrawString(szText.c_str(), static_cast<INT>(szText.size()), font.get(), rect, &format, &brush);
    g.SetClip(&saved);
}

bool SkinPainter::Paint(uint8_t* pBits, int nWidth, int nHeight, int nStride, const SkinState& state, ButtonLook close) const {
    if (nWidth <= 0 || nHeight <= 0) return true;
    Gdiplus::Bitmap target(nWidth, nHeight, nStride, PixelFormat32bppPARGB, pBits);
    if (target.GetLastStatus() != Gdiplus::Ok) return false;
    Gdiplus::Graphics g(&target);
    if (g.GetLastStatus() != Gdiplus::Ok) return false;
    g.SetPageUnit(Gdiplus::UnitPixel);
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBilinear);
    g.SetCompositingMode(Gdiplus::CompositingModeSourceOver);
    // Grey-scale smoothing: the pixels may end up on any background, where coloured fringes show.
    g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);

    const SkinLayout& l = m_layout;
    const SkinImage& back = l.images[l.nBackground];
    g.DrawImage(m_images[l.nBackground]->bitmap.get(), Gdiplus::RectF(0, 0, static_cast<float>(back.nWidth), static_cast<float>(back.nHeight)),
                0, 0, static_cast<float>(back.nWidth), static_cast<float>(back.nHeight), Gdiplus::UnitPixel);
    for (const SkinText& t : l.texts) PaintText(g, t, t.strText);
    PaintText(g, l.title, l.title.strText);
    PaintBar(g, l.install, state.install);
    PaintBar(g, l.states, state.states);
    PaintText(g, l.installLabel, state.install.strLabel);
    PaintText(g, l.statesLabel, state.states.strLabel);
    PaintText(g, l.percent, PercentText(state.install));
    const int button = close == ButtonLook::Pressed ? l.close.nPressed : close == ButtonLook::Hover ? l.close.nHover : l.close.nNormal;
    if (l.close.bPresent && button >= 0) {
        const SkinImage& img = l.images[button];
        g.DrawImage(m_images[button]->bitmap.get(),
                    Gdiplus::RectF(static_cast<float>(l.close.rect.x), static_cast<float>(l.close.rect.y), static_cast<float>(img.nWidth),
                                   static_cast<float>(img.nHeight)),
                    0, 0, static_cast<float>(img.nWidth), static_cast<float>(img.nHeight), Gdiplus::UnitPixel);
    }
    g.Flush(Gdiplus::FlushIntentionSync);
    return true;
}

}  // namespace platform::wingui
