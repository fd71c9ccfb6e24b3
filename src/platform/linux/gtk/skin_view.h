// A skin view: draws a native skin in a drawing area, or holds the web view of an HTML skin
// (made by the web module, loaded for the first such skin). The close button of a native skin
// sends its command as a skin page would; every call is applied to the drawn state.
// For the desktop's accessibility layer a native skin also holds invisible toolkit widgets at
// the places of its parts: its texts as labels, the bars as progress bars with their values
// and the close button as a button that can be pressed (it takes no pointer input: the drawing
// below does).
// With ORVO_SKIN_TRACE set, each call received is also reported as a "trace" command (function
// name and arguments, tab-separated), so that a vendor or a test can follow what the skin gets;
// ORVO_SKIN_TRACE=ticks adds a "tick" command every 50 ms, which shows that the window answers.
#pragma once

#include <cairo.h>
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/gui.h"
#include "platform/linux/gtk/skin_painter.h"
#include "platform/linux/gtk/web_module.h"

namespace platform::gtkwin {

class SkinView : public ISkinView {
public:
    using CommandHandler = webmodule::CommandHandler;
    // onCommand empty: the skin's commands are ignored. related: the view whose web engine an
    // HTML skin here shares.
    SkinView(CommandHandler onCommand, SkinView* related);
    ~SkinView() override;
    SkinView(const SkinView&) = delete;
    SkinView& operator=(const SkinView&) = delete;

    GtkWidget* Widget() const { return m_box; }

    bool SetWMode(const std::wstring& szMode, DispatchError* pError) override;
    bool SetBackgroundColor(int32_t nColor, DispatchError* pError) override;
    bool LoadMovie(int nLayer, const std::wstring& szPath, DispatchError* pError) override;
    bool LoadLayout(const SkinLayout& layout, DispatchError* pError) override;
    void WhenLoaded(std::function<void(bool, const DispatchError&)> done) override;
    void CallFunction(const std::wstring& szName, const std::vector<std::wstring>& args,
                      std::function<void(bool, const DispatchError&)> done) override;
    bool HasWindow() const override { return true; }
    void Move(int x, int y, int nWidth, int nHeight) override;
    void Show(bool bShow) override;

    // Draws what the view shows over the picture's surface (transparent where the skin is);
    // false when nothing is loaded or the page could not be pictured.
    bool DrawInto(cairo_t* cr);

    // Where Move places the view inside its container.
    std::function<void(GtkWidget*, int, int)> m_place;

private:
    static gboolean OnDraw(GtkWidget* w, cairo_t* cr, gpointer self);
    static gboolean OnPointer(GtkWidget* w, GdkEvent* event, gpointer self);
    void DropWeb();
    void BuildAccessible();
    void UpdateAccessible();
    GtkWidget* Place(GtkWidget* w, const SkinRect& r);
    void Trace(const std::wstring& szName, const std::vector<std::wstring>& args);

    CommandHandler m_onCommand;
    SkinView* m_related;
    GtkWidget* m_box = nullptr;   // what the dialog places; holds the area or the web view
    GtkWidget* m_area = nullptr;  // the native skin
    // The accessible stand-ins of a native skin's parts (children of m_box, invisible).
    std::vector<GtkWidget*> m_accessible;
    GtkWidget* m_installBar = nullptr;
    GtkWidget* m_statesBar = nullptr;
    GtkWidget* m_installLabel = nullptr;
    GtkWidget* m_statesLabel = nullptr;
    GtkWidget* m_percent = nullptr;
    std::unique_ptr<SkinPainter> m_painter;
    SkinState m_state;
    ButtonLook m_look = ButtonLook::Normal;
    bool m_bPressed = false;  // pressed on the close button and not yet released
    std::unique_ptr<webmodule::IWebSkin> m_web;
    bool m_bTransparent = false;
    int32_t m_nColor = 0xFFFFFF;
    bool m_bTrace = false;
    guint m_tickTimer = 0;
};

}  // namespace platform::gtkwin
