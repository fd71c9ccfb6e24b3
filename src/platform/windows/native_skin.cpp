#include "platform/windows/native_skin.h"

#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <cwctype>

#include "platform/i18n.h"
#include "platform/strings.h"
#include "platform/windows/win_util.h"

namespace platform::wingui {

namespace {

constexpr int32_t kScodeFailed = static_cast<int32_t>(0x80004005);
constexpr const wchar_t* kClassName = L"OrvoNativeSkin";

// The layout of the default skin, in pixels from the view's top-left corner.
constexpr RECT kCard{8, 22, 448, 198};
constexpr RECT kBadge{20, 4, 60, 44};
constexpr RECT kClose{410, 30, 436, 56};
constexpr int kLeft = 28, kWidth = 396;
constexpr int kInstallLabelTop = 64, kInstallBarTop = 86, kStatesLabelTop = 118, kStatesBarTop = 140, kPercentTop = 164;
constexpr int kBarHeight = 14;

constexpr COLORREF kInk = RGB(0x1d, 0x27, 0x33);
constexpr COLORREF kAccent = RGB(0x2a, 0x4d, 0x7a);
constexpr COLORREF kCardFace = RGB(0xf7, 0xf9, 0xfc);
constexpr COLORREF kTrack = RGB(0xdd, 0xe4, 0xee);
constexpr COLORREF kInstallFill = RGB(0x1f, 0x6f, 0xd6);
constexpr COLORREF kStatesFill = RGB(0x1e, 0x9e, 0x57);
constexpr COLORREF kCloseFace = RGB(0xd9, 0xe1, 0xec);
constexpr COLORREF kCloseHot = RGB(0xc3, 0xcf, 0xdf);
constexpr COLORREF kMuted = RGB(0x5b, 0x6b, 0x7f);

DispatchError Error(const std::wstring& text) { return {text, kScodeFailed, 0}; }

// A number as a skin script reads one: leading blanks, an optional sign, digits; 0 otherwise.
int Number(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && std::iswspace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
    long long n = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) n = std::min<long long>(n * 10 + (text[i] - L'0'), 0x7FFFFFFF);
    return static_cast<int>(negative ? -n : n);
}

std::wstring SystemMessage(DWORD nError) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, nError, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring out = n > 0 && text != nullptr ? std::wstring(text, n) : L"error " + std::to_wstring(nError);
    if (text != nullptr) ::LocalFree(text);
    while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' ' || out.back() == L'.')) out.pop_back();
    return out;
}

// GDI objects selected for one drawing and released with it.
class Gdi {
public:
    explicit Gdi(HDC hDC) : m_hDC(hDC) {}
    ~Gdi() {
        for (auto it = m_objects.rbegin(); it != m_objects.rend(); ++it) {
            ::SelectObject(m_hDC, it->second);
            ::DeleteObject(it->first);
        }
    }
    Gdi(const Gdi&) = delete;
    Gdi& operator=(const Gdi&) = delete;
    void Select(HGDIOBJ obj) {
        if (obj != nullptr) m_objects.emplace_back(obj, ::SelectObject(m_hDC, obj));
    }
    void Pen(int nWidth, COLORREF color) { Select(::CreatePen(PS_INSIDEFRAME, nWidth, color)); }
    void NoPen() { Select(::CreatePen(PS_NULL, 0, 0)); }
    void Brush(COLORREF color) { Select(::CreateSolidBrush(color)); }
    void Font(int nPixels, bool bBold) {
        Select(::CreateFontW(-nPixels, 0, 0, 0, bBold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma"));
    }

private:
    HDC m_hDC;
    std::vector<std::pair<HGDIOBJ, HGDIOBJ>> m_objects;
};

void FillSolid(HDC hDC, const RECT& r, COLORREF color) {
    HBRUSH brush = ::CreateSolidBrush(color);
    ::FillRect(hDC, &r, brush);
    ::DeleteObject(brush);
}

void Text(HDC hDC, const std::wstring& text, RECT r, int nPixels, bool bBold, COLORREF color) {
    Gdi gdi(hDC);
    gdi.Font(nPixels, bBold);
    ::SetTextColor(hDC, color);
    ::SetBkMode(hDC, TRANSPARENT);
    // No prefix: a label's '&' is shown as it is.
    ::DrawTextW(hDC, text.c_str(), static_cast<int>(text.size()), &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
}

void DrawBar(HDC hDC, int nTop, int nValue, int nMax, COLORREF fill) {
    const RECT track{kLeft, nTop, kLeft + kWidth, nTop + kBarHeight};
    {
        Gdi gdi(hDC);
        gdi.NoPen();
        gdi.Brush(kTrack);
        ::RoundRect(hDC, track.left, track.top, track.right + 1, track.bottom + 1, kBarHeight, kBarHeight);
    }
    const double ratio = nMax > 0 ? std::clamp(static_cast<double>(nValue) / nMax, 0.0, 1.0) : 0.0;
    const int width = static_cast<int>(std::lround(ratio * kWidth));
    if (width <= 0) return;
    // The fill is a rounded bar of its own, cut to the track's outline.
    HRGN clip = ::CreateRoundRectRgn(track.left, track.top, track.right + 1, track.bottom + 1, kBarHeight, kBarHeight);
    ::SelectClipRgn(hDC, clip);
    {
        Gdi gdi(hDC);
        gdi.NoPen();
        gdi.Brush(fill);
        ::RoundRect(hDC, track.left, track.top, track.left + width + 1, track.bottom + 1, kBarHeight, kBarHeight);
    }
    ::SelectClipRgn(hDC, nullptr);
    ::DeleteObject(clip);
}

void DrawBadge(HDC hDC) {
    {
        Gdi gdi(hDC);
        gdi.Pen(3, kCardFace);
        gdi.Brush(kAccent);
        ::Ellipse(hDC, kBadge.left, kBadge.top, kBadge.right, kBadge.bottom);
    }
    // A circular arrow: most of a ring and its head.
    const int cx = (kBadge.left + kBadge.right) / 2, cy = (kBadge.top + kBadge.bottom) / 2, r = 9;
    Gdi gdi(hDC);
    gdi.Select(::CreatePen(PS_SOLID, 3, RGB(0xFF, 0xFF, 0xFF)));
    ::Arc(hDC, cx - r, cy - r, cx + r + 1, cy + r + 1, cx + r, cy - 3, cx + 2, cy - r);
    gdi.Brush(RGB(0xFF, 0xFF, 0xFF));
    gdi.Select(::CreatePen(PS_SOLID, 1, RGB(0xFF, 0xFF, 0xFF)));
    const POINT head[3] = {{cx + r - 5, cy - 2}, {cx + r + 5, cy - 2}, {cx + r, cy + 4}};
    ::Polygon(hDC, head, 3);
}

void DrawCloseButton(HDC hDC, bool bHot) {
    {
        Gdi gdi(hDC);
        gdi.NoPen();
        gdi.Brush(bHot ? kCloseHot : kCloseFace);
        ::Ellipse(hDC, kClose.left, kClose.top, kClose.right + 1, kClose.bottom + 1);
    }
    Gdi gdi(hDC);
    gdi.Select(::CreatePen(PS_SOLID, 2, kAccent));
    const int cx = (kClose.left + kClose.right) / 2, cy = (kClose.top + kClose.bottom) / 2, d = 5;
    ::MoveToEx(hDC, cx - d, cy - d, nullptr);
    ::LineTo(hDC, cx + d + 1, cy + d + 1);
    ::MoveToEx(hDC, cx + d, cy - d, nullptr);
    ::LineTo(hDC, cx - d - 1, cy + d + 1);
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
    const int x = GET_X_LPARAM(lParam) - (kClose.left + kClose.right) / 2;
    const int y = GET_Y_LPARAM(lParam) - (kClose.top + kClose.bottom) / 2;
    const int r = (kClose.right - kClose.left) / 2;
    return x * x + y * y <= r * r;
}

LRESULT NativeSkin::OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
        case WM_ERASEBKGND: return 1;  // everything is painted at once below
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC hDC = ::BeginPaint(m_hWnd, &ps);
            RECT client;
            ::GetClientRect(m_hWnd, &client);
            // Drawn off screen and copied at once, so a report never flickers the bars.
            HDC mem = ::CreateCompatibleDC(hDC);
            HBITMAP bitmap = ::CreateCompatibleBitmap(hDC, std::max<LONG>(client.right, 1), std::max<LONG>(client.bottom, 1));
            HGDIOBJ old = ::SelectObject(mem, bitmap);
            Paint(mem, false);
            ::BitBlt(hDC, 0, 0, client.right, client.bottom, mem, 0, 0, SRCCOPY);
            ::SelectObject(mem, old);
            ::DeleteObject(bitmap);
            ::DeleteDC(mem);
            ::EndPaint(m_hWnd, &ps);
            return 0;
        }
        case WM_MOUSEMOVE: {
            const bool hot = m_bLoaded && OverClose(lParam);
            if (hot != m_bHot) {
                m_bHot = hot;
                const RECT r = kClose;
                ::InvalidateRect(m_hWnd, &r, FALSE);
            }
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, m_hWnd, 0};
            ::TrackMouseEvent(&track);
            return 0;
        }
        case WM_MOUSELEAVE:
            if (m_bHot) {
                m_bHot = false;
                const RECT r = kClose;
                ::InvalidateRect(m_hWnd, &r, FALSE);
            }
            return 0;
        case WM_LBUTTONDOWN:
            if (m_bLoaded && OverClose(lParam)) {
                m_bPressed = true;
                ::SetCapture(m_hWnd);
            }
            return 0;
        case WM_LBUTTONUP: {
            const bool click = m_bPressed && OverClose(lParam);
            m_bPressed = false;
            if (::GetCapture() == m_hWnd) ::ReleaseCapture();
            if (click && m_onCommand) m_onCommand(L"btnClose", L"");
            return 0;
        }
        case WM_CAPTURECHANGED: m_bPressed = false; return 0;
        default: return ::DefWindowProcW(m_hWnd, nMsg, wParam, lParam);
    }
}

void NativeSkin::Paint(HDC hDC, bool bPicture) const {
    const RECT all{0, 0, m_nWidth, m_nHeight};
    if (!m_bTransparent) FillSolid(hDC, all, m_color);
    else if (!bPicture) FillSolid(hDC, all, ::GetSysColor(COLOR_BTNFACE));  // what a windowless skin lets through
    if (!m_bLoaded) return;

    {
        Gdi gdi(hDC);
        gdi.Pen(2, kAccent);
        gdi.Brush(kCardFace);
        ::RoundRect(hDC, kCard.left, kCard.top, kCard.right, kCard.bottom, 36, 36);
    }
    DrawBadge(hDC);
    Text(hDC, Translate(L"Update"), RECT{80, 32, 400, 52}, 14, true, kAccent);
    DrawCloseButton(hDC, m_bHot);
    Text(hDC, m_install.strLabel, RECT{kLeft, kInstallLabelTop, kLeft + kWidth, kInstallLabelTop + 18}, 13, false, kInk);
    DrawBar(hDC, kInstallBarTop, m_install.nValue, m_install.nMax, kInstallFill);
    Text(hDC, m_states.strLabel, RECT{kLeft, kStatesLabelTop, kLeft + kWidth, kStatesLabelTop + 18}, 13, false, kInk);
    DrawBar(hDC, kStatesBarTop, m_states.nValue, m_states.nMax, kStatesFill);
    if (m_install.nMax > 0) {
        const double ratio = std::clamp(static_cast<double>(m_install.nValue) / m_install.nMax, 0.0, 1.0);
        Text(hDC, std::to_wstring(std::lround(ratio * 100)) + L"%", RECT{kLeft, kPercentTop, kLeft + 200, kPercentTop + 16}, 12, false,
             kMuted);
    }
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

bool NativeSkin::LoadLayout(const SkinLayout&, DispatchError*) {
    m_bLoaded = true;
    Redraw();
    return true;
}

bool NativeSkin::LoadMovie(int nLayer, const std::wstring& szPath, DispatchError* pError) {
    if (nLayer != 0) {
        if (pError != nullptr) *pError = Error(L"only layer 0 can hold the skin");
        return false;
    }
    const std::wstring path = win::NativePath(szPath);
    const DWORD attrs = path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(path.c_str());
    std::wstring why;
    if (attrs == INVALID_FILE_ATTRIBUTES) why = SystemMessage(path.empty() ? ERROR_FILE_NOT_FOUND : ::GetLastError());
    else if ((attrs & FILE_ATTRIBUTE_DIRECTORY) != 0) why = L"it is a folder";
    if (!why.empty()) {
        m_bLoaded = false;
        if (pError != nullptr) *pError = Error(L"the skin file " + path + L" cannot be read: " + why);
        Redraw();
        return false;
    }
    m_bLoaded = true;
    m_install = {};
    m_states = {};
    Redraw();
    return true;
}

void NativeSkin::CallFunction(const std::wstring& szName, const std::vector<std::wstring>& args,
                              std::function<void(bool, const DispatchError&)> done) {
    const auto arg = [&](size_t i) { return i < args.size() ? args[i] : std::wstring(); };
    const bool install = szName.rfind(L"SetInstall", 0) == 0;
    Bar& bar = install ? m_install : m_states;
    const std::wstring rest = szName.substr(std::min<size_t>(szName.size(), install ? 10 : 9));
    bool known = m_bLoaded && (install || szName.rfind(L"SetStates", 0) == 0);
    if (known && rest == L"ProgressMaxValue") {
        bar.nMax = Number(arg(0));
        bar.nValue = 0;
    } else if (known && rest == L"LabelText") {
        bar.strLabel = arg(0);
    } else if (known && rest == L"ProgressValue") {
        bar.nValue = Number(arg(0));
        if (args.size() > 1) bar.nMax = Number(args[1]);
    } else {
        known = false;
    }
    if (known) Redraw();
    if (!done) return;
    if (known) done(true, {});
    else done(false, Error(m_bLoaded ? L"the skin has no function " + szName : L"no skin is loaded to call " + szName));
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
