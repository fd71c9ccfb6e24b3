// The window module's entry: initialises the toolkit on the calling (window) thread, makes
// dialogs and shows message dialogs.
#include <gdk/gdk.h>
#include <gtk/gtk.h>

#include <string>

#include "platform/linux/gtk/dialog_window.h"
#include "platform/linux/gtk/gtk_util.h"
#include "platform/linux/gui_module.h"

namespace platform::gtkwin {

namespace {

void RunMessageDialog(const std::wstring& szText, const std::wstring& szCaption) {
    std::string text = Utf8(szText);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    GtkWidget* d = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER, GTK_BUTTONS_OK, "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(d), Utf8(szCaption).c_str());
    gtk_window_set_keep_above(GTK_WINDOW(d), TRUE);
    gtk_window_set_position(GTK_WINDOW(d), GTK_WIN_POS_CENTER);
    gtk_dialog_run(GTK_DIALOG(d));
    gtk_widget_destroy(d);
}

class Module final : public guimodule::IModule {
public:
    bool Init(std::string* pszWhy) override {
        // The shape and the embedding need X11; under Wayland the window goes through XWayland.
        gdk_set_allowed_backends("x11");
        g_set_prgname("OrvoUpdaterService");
        if (!gtk_init_check(nullptr, nullptr)) {
            const char* display = g_getenv("DISPLAY");
            *pszWhy = std::string("the X display ") + (display != nullptr ? display : "") + " cannot be opened";
            return false;
        }
        SetWindowThread();
        return true;
    }

    IDialogWindow* CreateDialog(IDialogEvents& events) override { return new DialogWindow(events); }

    void MessageBox(const std::wstring& szText, const std::wstring& szCaption) override {
        if (OnWindowThread()) {
            RunMessageDialog(szText, szCaption);
            return;
        }
        DialogWindow::BoxQueued();  // before the look, so a loop that is ending waits for it
        if (!DialogWindow::ModalLoopRunning()) {
            DialogWindow::BoxShown();
            return;
        }
        struct Box {
            std::wstring text, caption;
        };
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer p) -> gboolean {
                auto* b = static_cast<Box*>(p);
                RunMessageDialog(b->text, b->caption);
                DialogWindow::BoxShown();
                return G_SOURCE_REMOVE;
            },
            new Box{szText, szCaption}, [](gpointer p) { delete static_cast<Box*>(p); });
    }
};

}  // namespace

}  // namespace platform::gtkwin

extern "C" __attribute__((visibility("default"))) platform::guimodule::IModule* orvo_window_module(int nVersion) {
    if (nVersion != platform::guimodule::kVersion) return nullptr;
    static platform::gtkwin::Module module;
    return &module;
}
