// The dialog window on Win32: a borderless popup holding the visible skin (control 1000) and
// the hidden copy pictured for the shape (control 1001); timers and posted messages on the
// thread that made it.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/gui.h"
#include "platform/windows/native_skin.h"

namespace platform::wingui {

class DialogWindow : public IDialogWindow {
public:
    // Check Created() before use.
    explicit DialogWindow(IDialogEvents& events);
    ~DialogWindow() override;
    bool Created() const { return m_hWnd != nullptr; }

    ISkinView& Skin(int nId) override;
    void SetTitle(const std::wstring& szTitle) override;
    void Show(bool bShow) override;
    void Move(int x, int y, int nWidth, int nHeight) override;
    void SetTopmost() override;
    void SetTimer(uint32_t nId, uint32_t nMilliseconds) override;
    void KillTimer(uint32_t nId) override;
    void PostDialogMessage(uint32_t nMessage, uintptr_t wParam, intptr_t lParam) override;
    void RunModal() override;
    void EndModal() override;
    void Destroy() override;
    bool SetParent(WindowHandle hParent) override;
    bool GetClientSize(WindowHandle hWnd, int* pWidth, int* pHeight) override;
    WorkArea MonitorWorkArea() override;
    bool DrawSkin(int nId, Picture& picture) override;
    bool ApplyShape(const std::vector<Rect>& rects) override;
    WindowHandle Handle() const override;

    // A message box while a dialog window exists: modal on the dialog's thread; from another
    // thread it is queued to that thread (the caller does not wait) and shown before the modal
    // loop ends for good. False when no dialog window exists.
    static bool MessageBoxOnDialogThread(const std::wstring& szText, const std::wstring& szCaption);

private:
    struct Posted {
        uint32_t nMessage;
        uintptr_t wParam;
        intptr_t lParam;
    };
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam);
    void DeliverPosted();
    void OnDestroyed();

    IDialogEvents& m_events;
    HWND m_hWnd = nullptr;
    std::unique_ptr<NativeSkin> m_visible;
    std::unique_ptr<NativeSkin> m_shape;
    std::mutex m_csPosted;
    std::deque<Posted> m_posted;
    bool m_bDeliveryPosted = false;
    bool m_bEndModal = false;
    bool m_bEmbedded = false;
    bool m_bDestroyed = false;
    int m_nLastWidth = -1, m_nLastHeight = -1;
};

}  // namespace platform::wingui
