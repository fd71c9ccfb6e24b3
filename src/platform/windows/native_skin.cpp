#include "platform/windows/native_skin.h"

#include <windowsx.h>

#include <algorithm>
#include <cstring>

#include "platform/strings.h"

namespace platform::wingui {

namespace {

constexpr int32_t kScodeFailed = static_cast<int32_t>(0x80004005);
constexpr const wchar_t* kClassName = L"OrvoNativeSkin";

DispatchError Error(const std::wstring& text) { return {text, kScodeFailed, 0}; }

bool Inside(const SkinRect& r, int x, int y) { return x >= r.x && y >= r.y && x < r.x + r.nWidth && y < r.y + r.nHeight; }

// Every pixel one opaque colour, premultiplied BGRA.
void FillPixels(uint8_t* pBits, int nWidth, int nHeight, int nStride, COLORREF color) {
    const uint8_t px[4] = {GetBValue(color), GetGValue(color), GetRValue(color), 0xFF};
    for (int y = 0; y < nHeight; ++y)
        for (int x = 0; x < nWidth; ++x) std::memcpy(pBits + static_cast<ptrdiff_t>(nStride) * y + x * 4, px, 4);
}

void RegisterSkinClass(WNDPROC proc) {
    static const bool registered = [proc] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
        wc.lpszClassName = kClassName;
        return ::RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
}

}  // namespace

NativeSkin::NativeSkin(HWND hDialog, int nId, CommandHandler onCommand) : m_onCommand(std::move(onCommand)) {
    wchar_t trace[8] = {};
    m_bTrace = m_onCommand && ::GetEnvironmentVariableW(L"ORVO_SKIN_TRACE", trace, 8) > 0;
    RegisterSkinClass(&NativeSkin::WndProc);
    m_hWnd = ::CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_CLIPSIBLINGS, 0, 0, 0, 0, hDialog,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(nId)), ::GetModuleHandleW(nullptr), nullptr);
    if (m_hWnd == nullptr) return;
    ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

NativeSkin::~NativeSkin() {
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd)) {
        ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
        ::DestroyWindow(m_hWnd);
    }
}

LRESULT CALLBACK NativeSkin::WndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<NativeSkin*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcW(hWnd, nMsg, wParam, lParam);
    if (nMsg == WM_NCDESTROY) {
        self->m_hWnd = nullptr;  // destroyed with the dialog
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
        return ::DefWindowProcW(hWnd, nMsg, wParam, lParam);
    }
    return self->OnMessage(nMsg, wParam, lParam);
}

bool NativeSkin::OverClose(LPARAM lParam) const {
    return m_painter && m_painter->Layout().close.bPresent && Inside(m_painter->Layout().close.rect, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
}

void NativeSkin::SetLook(ButtonLook look) {
    if (look == m_look || !m_painter) return;
    m_look = look;
    const SkinRect& b = m_painter->Layout().close.rect;
    const RECT r{b.x, b.y, b.x + b.nWidth, b.y + b.nHeight};
    ::InvalidateRect(m_hWnd, &r, FALSE);
}

void NativeSkin::PaintScreen(HDC hDC) {
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    const int w = std::max<int>(client.right, 1), h = std::max<int>(client.bottom, 1);
    // Drawn off screen and copied at once, so a report never flickers the bars.
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = ::CreateDIBSection(hDC, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dib == nullptr || bits == nullptr) return;
    // What a transparent skin lets through on screen is the dialog's face; the window's shape
    // leaves out what the background image does not cover.
    FillPixels(static_cast<uint8_t*>(bits), w, h, w * 4, m_bTransparent ? ::GetSysColor(COLOR_BTNFACE) : m_color);
    if (m_painter) m_painter->Paint(static_cast<uint8_t*>(bits), w, h, w * 4, m_state, m_look);
    HDC mem = ::CreateCompatibleDC(hDC);
    HGDIOBJ old = ::SelectObject(mem, dib);
    ::BitBlt(hDC, 0, 0, w, h, mem, 0, 0, SRCCOPY);
    ::SelectObject(mem, old);
    ::DeleteDC(mem);
    ::DeleteObject(dib);
}

LRESULT NativeSkin::OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
        case WM_ERASEBKGND: return 1;  // everything is painted at once below
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC hDC = ::BeginPaint(m_hWnd, &ps);
            PaintScreen(hDC);
            ::EndPaint(m_hWnd, &ps);
            return 0;
        }
        case WM_MOUSEMOVE: {
            const bool over = OverClose(lParam);
            SetLook(over ? (m_bPressed ? ButtonLook::Pressed : ButtonLook::Hover) : ButtonLook::Normal);
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, m_hWnd, 0};
            ::TrackMouseEvent(&track);
            return 0;
        }
        case WM_MOUSELEAVE:
            if (!m_bPressed) SetLook(ButtonLook::Normal);
            return 0;
        case WM_LBUTTONDOWN:
            if (OverClose(lParam)) {
                m_bPressed = true;
                ::SetCapture(m_hWnd);
                SetLook(ButtonLook::Pressed);
            }
            return 0;
        case WM_LBUTTONUP: {
            // As a skin page's button: pressed and released over it.
            const bool over = OverClose(lParam);
            const bool click = m_bPressed && over;
            m_bPressed = false;
            if (::GetCapture() == m_hWnd) ::ReleaseCapture();
            SetLook(over ? ButtonLook::Hover : ButtonLook::Normal);
            if (click && m_onCommand) m_onCommand(m_painter->Layout().close.strCommand, L"");
            return 0;
        }
        case WM_CAPTURECHANGED:
            if (m_bPressed) {
                m_bPressed = false;
                SetLook(ButtonLook::Normal);
            }
            return 0;
        default: return ::DefWindowProcW(m_hWnd, nMsg, wParam, lParam);
    }
}

bool NativeSkin::Paint(uint8_t* pBits, int nWidth, int nHeight, int nStride) const {
    if (!m_painter) return false;
    if (!m_bTransparent) FillPixels(pBits, nWidth, nHeight, nStride, m_color);
    return m_painter->Paint(pBits, nWidth, nHeight, nStride, m_state, ButtonLook::Normal);
}

void NativeSkin::Redraw() {
    if (m_hWnd != nullptr) ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

bool NativeSkin::SetWMode(const std::wstring& szMode, DispatchError*) {
    m_bTransparent = EqualsNoCase(szMode, L"Transparent");
    Redraw();
    return true;
}

bool NativeSkin::SetBackgroundColor(int32_t nColor, DispatchError*) {
    m_color = RGB((nColor >> 16) & 0xFF, (nColor >> 8) & 0xFF, nColor & 0xFF);
    Redraw();
    return true;
}

bool NativeSkin::LoadLayout(const SkinLayout& layout, DispatchError* pError) {
    std::wstring why;
    auto painter = SkinPainter::Create(layout, &why);
    if (!painter) {
        if (pError != nullptr) *pError = Error(why);
        return false;
    }
    m_painter = std::move(painter);
    m_state = SkinState{};
    m_look = ButtonLook::Normal;
    Redraw();
    return true;
}

bool NativeSkin::LoadMovie(int, const std::wstring& szPath, DispatchError* pError) {
    if (pError != nullptr) *pError = Error(L"the page skin " + szPath + L" cannot be shown: this system draws native skins only");
    return false;
}

void NativeSkin::CallFunction(const std::wstring& szName, const std::vector<std::wstring>& args,
                              std::function<void(bool, const DispatchError&)> done) {
    if (!m_painter) {
        if (done) done(false, Error(L"no skin is loaded to call " + szName));
        return;
    }
    if (m_bTrace) {
        std::wstring line = szName;
        for (const auto& a : args) line += L"\t" + a;
        m_onCommand(L"trace", line);
    }
    if (!m_state.Apply(szName, args)) {
        if (done) done(false, Error(L"the skin has no function " + szName));
        return;
    }
    Redraw();
    if (done) done(true, {});
}

void NativeSkin::Move(int x, int y, int nWidth, int nHeight) {
    m_nWidth = std::max(nWidth, 0);
    m_nHeight = std::max(nHeight, 0);
    if (m_hWnd != nullptr) ::SetWindowPos(m_hWnd, nullptr, x, y, m_nWidth, m_nHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

void NativeSkin::Show(bool bShow) {
    if (m_hWnd != nullptr) ::ShowWindow(m_hWnd, bShow ? SW_SHOWNA : SW_HIDE);
}

}  // namespace platform::wingui
