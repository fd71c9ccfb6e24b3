// An HTML skin: a web view showing the skin page, with no network access, transparent or on a
// background colour; its page calls the host through `orvoHost.command(command, argument)`.
#pragma once

#include <cairo.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/gui.h"
#include "platform/linux/gtk/web_module.h"

namespace platform::gtkwin {

class WebSkinView : public webmodule::IWebSkin {
public:
    using CommandHandler = webmodule::CommandHandler;
    // onCommand empty: commands of this page are ignored. related: a view whose web process
    // this one shares.
    WebSkinView(CommandHandler onCommand, WebSkinView* related);
    ~WebSkinView() override;
    WebSkinView(const WebSkinView&) = delete;
    WebSkinView& operator=(const WebSkinView&) = delete;

    GtkWidget* Widget() const override { return GTK_WIDGET(m_view); }
    WebKitWebView* View() const { return m_view; }

    bool SetWMode(const std::wstring& szMode, DispatchError* pError) override;
    bool SetBackgroundColor(int32_t nColor, DispatchError* pError) override;
    bool LoadMovie(int nLayer, const std::wstring& szPath, DispatchError* pError) override;
    bool LoadLayout(const SkinLayout&, DispatchError* pError) override;
    void WhenLoaded(std::function<void(bool, const DispatchError&)> done) override;
    void CallFunction(const std::wstring& szName, const std::vector<std::wstring>& args,
                      std::function<void(bool, const DispatchError&)> done) override;
    bool HasWindow() const override { return m_view != nullptr; }
    void Move(int x, int y, int nWidth, int nHeight) override;
    void Show(bool bShow) override;

    cairo_surface_t* Snapshot() override;

private:
    struct Call {
        std::string name;
        std::vector<std::string> args;
        std::function<void(bool, const DispatchError&)> done;
    };
    struct Liveness {
        bool bAlive = true;
    };
    enum class LoadState { None, Loading, Loaded, Failed };

    void ApplyBackground();
    void Send(Call call);
    void FailPending(const std::string& why);
    // The load ended (loaded, failed or out of time): pending calls and waiters learn of it.
    void FinishLoad(bool bOk);
    static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self);
    static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer self);
    static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, gpointer);
    static void OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self);

    WebKitWebView* m_view = nullptr;
    CommandHandler m_onCommand;
    std::shared_ptr<Liveness> m_live = std::make_shared<Liveness>();
    bool m_bTransparent = false;
    int32_t m_nColor = 0xFFFFFF;
    LoadState m_load = LoadState::None;
    std::string m_strLoadError;
    std::vector<Call> m_pending;  // calls made while the page loads
    std::vector<std::function<void(bool, const DispatchError&)>> m_loadWaiters;
    guint m_loadTimer = 0;  // ends a load that takes too long
};

}  // namespace platform::gtkwin
