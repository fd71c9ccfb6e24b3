// The dialog window on GTK: an undecorated top-level holding the visible skin view, a hidden
// off-screen window holding the shape copy, timers and posted messages on the main context.
#pragma once

#include <gtk/gtk.h>

#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "platform/gui.h"
#include "platform/linux/gtk/skin_view.h"

namespace platform::gtkwin {

class DialogWindow : public IDialogWindow {
public:
    explicit DialogWindow(IDialogEvents& events);
    ~DialogWindow() override;

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

    // True while some dialog runs its modal loop (message boxes from other threads need one).
    static bool ModalLoopRunning();
    // Message boxes queued from other threads: the window's thread shows them all before it
    // leaves its modal loop for good.
    static void BoxQueued();
    static void BoxShown();

private:
    struct Posted {
        uint32_t nMessage;
        uintptr_t wParam;
        intptr_t lParam;
    };
    // Shared with the idle callbacks that deliver posted messages: they may run after the
    // window is gone.
    struct Mailbox {
        std::mutex cs;
        std::deque<Posted> queue;
        bool bScheduled = false;
        DialogWindow* owner = nullptr;  // cleared on the window thread when the window goes
    };
    static gboolean DeliverPosted(gpointer data);
    static void OnWindowDestroyed(GtkWidget*, gpointer self);
    static void OnSizeAllocate(GtkWidget*, GdkRectangle* allocation, gpointer self);

    IDialogEvents& m_events;
    GtkWidget* m_window = nullptr;
    GtkWidget* m_fixed = nullptr;
    GtkWidget* m_offscreen = nullptr;
    std::unique_ptr<SkinView> m_visible;
    std::unique_ptr<SkinView> m_shape;
    std::shared_ptr<Mailbox> m_mailbox = std::make_shared<Mailbox>();
    std::map<uint32_t, guint> m_timers;
    GMainLoop* m_loop = nullptr;
    bool m_bEmbedded = false;
    bool m_bDestroyed = false;
    bool m_bFirstFrame = false;
    int m_nWidth = 0, m_nHeight = 0;
    int m_nLastWidth = -1, m_nLastHeight = -1;
};

}  // namespace platform::gtkwin
