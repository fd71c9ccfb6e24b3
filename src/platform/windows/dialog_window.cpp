#include "platform/windows/dialog_window.h"

#include <algorithm>

namespace platform::wingui {

namespace {

constexpr const wchar_t* kClassName = L"OrvoUpdaterDialog";
// Private messages of the window itself (never seen by the dialog's logic).
constexpr UINT kDeliverPosted = WM_APP + 0x101;

struct Box {
    std::wstring strText, strCaption;
};

// The dialog window of the process (there is one at a time), and the message boxes other
// threads asked for while it exists: its thread shows them.
std::mutex g_csDialog;
HWND g_hDialog = nullptr;
DWORD g_nDialogThread = 0;
std::deque<Box> g_boxes;

void RunBox(const std::wstring& text, const std::wstring& caption) {
    // No owner, as the updater's boxes have none; above the topmost dialog.
    ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_TOPMOST | MB_SETFOREGROUND);
}

void ShowQueuedBoxes() {
    for (;;) {
        Box box;
        {
            std::lock_guard<std::mutex> guard(g_csDialog);
            if (g_boxes.empty()) return;
            box = std::move(g_boxes.front());
            g_boxes.pop_front();
        }
        RunBox(box.strText, box.strCaption);
    }
}

}  // namespace

DialogWindow::DialogWindow(IDialogEvents& events) : m_events(events) {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &DialogWindow::WndProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
        wc.lpszClassName = kClassName;
        return ::RegisterClassExW(&wc) != 0;
    }();
    if (!registered) return;
    m_hWnd = ::CreateWindowExW(WS_EX_APPWINDOW, kClassName, L"", WS_POPUP | WS_CLIPCHILDREN, 0, 0, 0, 0, nullptr, nullptr,
                               ::GetModuleHandleW(nullptr), nullptr);
    if (m_hWnd == nullptr) return;
    ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_visible = std::make_unique<NativeSkin>(m_hWnd, kSkinVisible,
                                             [this](const std::wstring& c, const std::wstring& a) { m_events.OnSkinCommand(c, a); });
    m_shape = std::make_unique<NativeSkin>(m_hWnd, kSkinShape, nullptr);
    std::lock_guard<std::mutex> guard(g_csDialog);
    g_hDialog = m_hWnd;
    g_nDialogThread = ::GetCurrentThreadId();
}

DialogWindow::~DialogWindow() {
    if (m_hWnd != nullptr) {
        ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
        m_visible.reset();
        m_shape.reset();
        ::DestroyWindow(m_hWnd);
        OnDestroyed();
    }
    std::lock_guard<std::mutex> guard(g_csDialog);
    if (g_nDialogThread == ::GetCurrentThreadId()) {
        g_hDialog = nullptr;
        g_nDialogThread = 0;
    }
}

ISkinView& DialogWindow::Skin(int nId) { return nId == kSkinShape ? *m_shape : *m_visible; }

void DialogWindow::SetTitle(const std::wstring& szTitle) {
    if (m_hWnd != nullptr) ::SetWindowTextW(m_hWnd, szTitle.c_str());
}

void DialogWindow::Show(bool bShow) {
    if (m_hWnd != nullptr) ::ShowWindow(m_hWnd, bShow ? SW_SHOW : SW_HIDE);
}

void DialogWindow::Move(int x, int y, int nWidth, int nHeight) {
    if (m_hWnd != nullptr) ::SetWindowPos(m_hWnd, nullptr, x, y, std::max(nWidth, 0), std::max(nHeight, 0), SWP_NOZORDER | SWP_NOACTIVATE);
}

void DialogWindow::SetTopmost() {
    if (m_hWnd != nullptr && !m_bEmbedded) ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void DialogWindow::SetTimer(uint32_t nId, uint32_t nMilliseconds) {
    if (m_hWnd != nullptr) ::SetTimer(m_hWnd, nId, nMilliseconds, nullptr);
}

void DialogWindow::KillTimer(uint32_t nId) {
    if (m_hWnd != nullptr) ::KillTimer(m_hWnd, nId);
}

void DialogWindow::PostDialogMessage(uint32_t nMessage, uintptr_t wParam, intptr_t lParam) {
    // Queued here rather than posted as they are: a posted WM_SYSCOMMAND would reach the
    // system's own handling of the window.
    std::lock_guard<std::mutex> guard(m_csPosted);
    if (m_hWnd == nullptr) return;  // the window is gone
    m_posted.push_back({nMessage, wParam, lParam});
    if (m_bDeliveryPosted) return;
    m_bDeliveryPosted = ::PostMessageW(m_hWnd, kDeliverPosted, 0, 0) != FALSE;
}

void DialogWindow::DeliverPosted() {
    for (;;) {
        Posted m;
        {
            std::lock_guard<std::mutex> guard(m_csPosted);
            if (m_posted.empty() || m_hWnd == nullptr) {
                m_bDeliveryPosted = false;
                return;
            }
            m = m_posted.front();
            m_posted.pop_front();
        }
        m_events.OnMessage(m.nMessage, m.wParam, m.lParam);
    }
}

void DialogWindow::RunModal() {
    if (m_hWnd == nullptr) return;
    m_bEndModal = false;
    MSG msg;
    const auto pump = [&msg]() -> bool {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0) ::PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop outside
            return false;
        }
        if (msg.hwnd == nullptr && msg.message == WM_NULL) {
            ShowQueuedBoxes();  // asked for by another thread
            return true;
        }
        // Keys never reach the dialog or the skin: Enter and Escape must not end it.
        if (msg.message == WM_KEYDOWN || msg.message == WM_KEYUP || msg.message == WM_CHAR) return true;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
        return true;
    };
    while (!m_bEndModal && pump()) {
    }
    // A box queued from another thread waits for its answer, as a modal box does.
    ShowQueuedBoxes();
}

void DialogWindow::EndModal() {
    m_bEndModal = true;
    ::PostThreadMessageW(::GetCurrentThreadId(), WM_NULL, 0, 0);  // wakes the loop (and shows queued boxes)
}

void DialogWindow::Destroy() {
    if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
}

LRESULT CALLBACK DialogWindow::WndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<DialogWindow*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcW(hWnd, nMsg, wParam, lParam);
    return self->OnMessage(nMsg, wParam, lParam);
}

LRESULT DialogWindow::OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
        case WM_TIMER: m_events.OnTimer(static_cast<uint32_t>(wParam)); return 0;
        case kDeliverPosted: DeliverPosted(); return 0;
        case WM_SIZE: {
            const int w = LOWORD(lParam), h = HIWORD(lParam);
            if (w != m_nLastWidth || h != m_nLastHeight) {
                m_nLastWidth = w;
                m_nLastHeight = h;
                m_events.OnSize(w, h);
            }
            return 0;
        }
        // Only the skin's close command or the end of the run close the dialog.
        case WM_CLOSE: return 0;
        case WM_DESTROY: OnDestroyed(); return 0;
        default: return ::DefWindowProcW(m_hWnd, nMsg, wParam, lParam);
    }
}

void DialogWindow::OnDestroyed() {
    if (m_bDestroyed) return;
    m_bDestroyed = true;
    {
        std::lock_guard<std::mutex> guard(m_csPosted);
        m_posted.clear();
        m_hWnd = nullptr;
    }
    {
        std::lock_guard<std::mutex> guard(g_csDialog);
        if (g_nDialogThread == ::GetCurrentThreadId()) g_hDialog = nullptr;  // no box is queued from now on
    }
    ShowQueuedBoxes();
    m_events.OnDestroy();
    EndModal();
}

bool DialogWindow::SetParent(WindowHandle hParent) {
    const HWND parent = reinterpret_cast<HWND>(hParent);
    if (m_hWnd == nullptr || hParent <= 0 || !::IsWindow(parent)) return false;
    // A child of the caller's window: no longer a popup of its own, nor topmost or on the taskbar.
    const LONG_PTR style = ::GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, (style & ~static_cast<LONG_PTR>(WS_POPUP)) | WS_CHILD);
    const LONG_PTR exStyle = ::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE);
    ::SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, exStyle & ~static_cast<LONG_PTR>(WS_EX_APPWINDOW | WS_EX_TOPMOST));
    if (::SetParent(m_hWnd, parent) == nullptr) {
        ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, style);
        ::SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, exStyle);
        return false;
    }
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    m_bEmbedded = true;
    return true;
}

bool DialogWindow::GetClientSize(WindowHandle hWnd, int* pWidth, int* pHeight) {
    RECT r;
    if (hWnd <= 0 || !::GetClientRect(reinterpret_cast<HWND>(hWnd), &r)) return false;
    *pWidth = r.right - r.left;
    *pHeight = r.bottom - r.top;
    return true;
}

WorkArea DialogWindow::MonitorWorkArea() {
    HMONITOR monitor = m_hWnd != nullptr ? ::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY)
                                         : ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (monitor == nullptr || !::GetMonitorInfoW(monitor, &info)) return {};
    const RECT& w = info.rcWork;
    return {w.left, w.top, w.right - w.left, w.bottom - w.top};
}

bool DialogWindow::DrawSkin(int nId, Picture& picture) {
    if (picture.nWidth <= 0 || picture.nHeight <= 0 || picture.nStride != picture.nWidth * 4 ||
        picture.bits.size() < static_cast<size_t>(picture.nStride) * picture.nHeight)
        return false;
    const NativeSkin& view = nId == kSkinShape ? *m_shape : *m_visible;
    return view.Paint(picture.bits.data(), picture.nWidth, picture.nHeight, picture.nStride);
}

bool DialogWindow::ApplyShape(const std::vector<Rect>& rects) {
    if (m_hWnd == nullptr) return false;
    if (rects.empty()) return ::SetWindowRgn(m_hWnd, nullptr, TRUE) != 0;
    std::vector<uint8_t> data(sizeof(RGNDATAHEADER) + rects.size() * sizeof(RECT));
    auto* header = reinterpret_cast<RGNDATAHEADER*>(data.data());
    header->dwSize = sizeof(RGNDATAHEADER);
    header->iType = RDH_RECTANGLES;
    header->nCount = static_cast<DWORD>(rects.size());
    header->nRgnSize = static_cast<DWORD>(rects.size() * sizeof(RECT));
    RECT bounds{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    auto* out = reinterpret_cast<RECT*>(data.data() + sizeof(RGNDATAHEADER));
    for (size_t i = 0; i < rects.size(); ++i) {
        const Rect& r = rects[i];
        out[i] = RECT{r.x, r.y, r.x + r.nWidth, r.y + r.nHeight};
        bounds = RECT{std::min(bounds.left, out[i].left), std::min(bounds.top, out[i].top), std::max(bounds.right, out[i].right),
                      std::max(bounds.bottom, out[i].bottom)};
    }
    header->rcBound = bounds;
    HRGN region = ::ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()), reinterpret_cast<RGNDATA*>(data.data()));
    if (region == nullptr) return false;
    if (::SetWindowRgn(m_hWnd, region, TRUE) == 0) {
        ::DeleteObject(region);
        return false;
    }
    return true;  // the window owns the region now
}

WindowHandle DialogWindow::Handle() const { return m_hWnd != nullptr ? reinterpret_cast<WindowHandle>(m_hWnd) : 0; }

bool DialogWindow::MessageBoxOnDialogThread(const std::wstring& szText, const std::wstring& szCaption) {
    DWORD thread;
    {
        std::lock_guard<std::mutex> guard(g_csDialog);
        if (g_hDialog == nullptr || g_nDialogThread == 0) return false;
        thread = g_nDialogThread;
        if (thread != ::GetCurrentThreadId()) {
            g_boxes.push_back(Box{szText, szCaption});
            ::PostThreadMessageW(thread, WM_NULL, 0, 0);
            return true;
        }
    }
    RunBox(szText, szCaption);
    return true;
}

}  // namespace platform::wingui
