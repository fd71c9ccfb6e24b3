#include "platform/linux/gtk/skin_view.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/linux/gtk/gtk_util.h"

namespace platform::gtkwin {

namespace {

constexpr int32_t kScodeFailed = static_cast<int32_t>(0x80004005);  // the generic failure status

DispatchError Error(const std::string& text) { return {Wide(text.c_str()), kScodeFailed, 0}; }

bool Inside(const SkinRect& r, double x, double y) { return x >= r.x && y >= r.y && x < r.x + r.nWidth && y < r.y + r.nHeight; }

}  // namespace

SkinView::SkinView(CommandHandler onCommand, SkinView* related) : m_onCommand(std::move(onCommand)), m_related(related) {
    m_box = gtk_fixed_new();
    g_object_ref_sink(m_box);
    m_area = gtk_drawing_area_new();
    g_object_ref_sink(m_area);  // outlives a window that destroys its children first
    gtk_widget_add_events(m_area, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_LEAVE_NOTIFY_MASK);
    g_signal_connect(m_area, "draw", G_CALLBACK(OnDraw), this);
    for (const char* signal : {"motion-notify-event", "button-press-event", "button-release-event", "leave-notify-event"})
        g_signal_connect(m_area, signal, G_CALLBACK(OnPointer), this);
    gtk_fixed_put(GTK_FIXED(m_box), m_area, 0, 0);
    gtk_widget_show(m_area);
    const char* trace = std::getenv("ORVO_SKIN_TRACE");
    m_bTrace = trace != nullptr && *trace != '\0' && m_onCommand;
    if (m_bTrace && std::strcmp(trace, "ticks") == 0) {
        m_tickTimer = g_timeout_add(50, [](gpointer self) -> gboolean {
            static_cast<SkinView*>(self)->m_onCommand(L"tick", L"");
            return G_SOURCE_CONTINUE;
        }, this);
    }
}

SkinView::~SkinView() {
    if (m_tickTimer != 0) g_source_remove(m_tickTimer);
    g_signal_handlers_disconnect_by_data(m_area, this);
    DropWeb();
    if (GtkWidget* parent = gtk_widget_get_parent(m_box)) gtk_container_remove(GTK_CONTAINER(parent), m_box);
    g_object_unref(m_area);
    g_object_unref(m_box);
}

void SkinView::DropWeb() {
    if (!m_web) return;
    if (gtk_widget_get_parent(m_web->Widget()) == m_box) gtk_container_remove(GTK_CONTAINER(m_box), m_web->Widget());
    m_web.reset();
    gtk_widget_show(m_area);
}

bool SkinView::SetWMode(const std::wstring& szMode, DispatchError* pError) {
    m_bTransparent = g_ascii_strcasecmp(Utf8(szMode).c_str(), "Transparent") == 0;
    return m_web ? m_web->SetWMode(szMode, pError) : true;
}

bool SkinView::SetBackgroundColor(int32_t nColor, DispatchError* pError) {
    m_nColor = nColor & 0xFFFFFF;
    return m_web ? m_web->SetBackgroundColor(nColor, pError) : true;
}

bool SkinView::LoadMovie(int nLayer, const std::wstring& szPath, DispatchError* pError) {
    m_painter.reset();
    std::string why;
    webmodule::IModule* module = webmodule::Load(&why);
    if (module == nullptr) {
        if (pError) *pError = Error("an HTML skin cannot be shown: " + why);
        return false;
    }
    if (!m_web) {
        webmodule::IWebSkin* related = m_related != nullptr ? m_related->m_web.get() : nullptr;
        m_web.reset(module->CreateSkin(m_onCommand, related));
        gtk_widget_hide(m_area);
        for (GtkWidget* w : m_accessible) gtk_widget_destroy(w);
        m_accessible.clear();
        gtk_fixed_put(GTK_FIXED(m_box), m_web->Widget(), 0, 0);
        gtk_widget_show(m_web->Widget());
        DispatchError ignored;
        m_web->SetWMode(m_bTransparent ? L"Transparent" : L"Window", &ignored);
        m_web->SetBackgroundColor(m_nColor, &ignored);
    }
    return m_web->LoadMovie(nLayer, szPath, pError);
}

bool SkinView::LoadLayout(const SkinLayout& layout, DispatchError* pError) {
    DropWeb();
    std::string why;
    m_painter = SkinPainter::Create(layout, &why);
    if (!m_painter) {
        if (pError) *pError = Error(why);
        return false;
    }
    m_state = SkinState{};
    BuildAccessible();
    gtk_widget_queue_draw(m_area);
    return true;
}

GtkWidget* SkinView::Place(GtkWidget* w, const SkinRect& r) {
    gtk_widget_set_size_request(w, r.nWidth, r.nHeight);
    gtk_widget_set_opacity(w, 0.0);
    gtk_fixed_put(GTK_FIXED(m_box), w, r.x, r.y);
    gtk_widget_show(w);
    m_accessible.push_back(w);
    return w;
}

void SkinView::BuildAccessible() {
    for (GtkWidget* w : m_accessible) gtk_widget_destroy(w);
    m_accessible.clear();
    m_installBar = m_statesBar = m_installLabel = m_statesLabel = m_percent = nullptr;
    // The shape copy is never seen or read.
    if (!m_onCommand) return;
    const SkinLayout& l = m_painter->Layout();
    const auto label = [&](const SkinText& t, const std::wstring& text) -> GtkWidget* {
        if (!t.bPresent) return nullptr;
        GtkWidget* w = gtk_label_new(Utf8(text).c_str());
        // A long text must not make the invisible label wider than its place.
        gtk_label_set_ellipsize(GTK_LABEL(w), PANGO_ELLIPSIZE_END);
        return Place(w, t.rect);
    };
    label(l.title, l.title.strText);
    for (const SkinText& t : l.texts) label(t, t.strText);
    m_installLabel = label(l.installLabel, L"");
    m_installBar = Place(gtk_progress_bar_new(), l.install.rect);
    m_statesLabel = label(l.statesLabel, L"");
    m_statesBar = Place(gtk_progress_bar_new(), l.states.rect);
    m_percent = label(l.percent, L"");
    atk_object_set_name(gtk_widget_get_accessible(m_installBar), "Overall progress");
    atk_object_set_name(gtk_widget_get_accessible(m_statesBar), "Step progress");
    GtkWidget* close = Place(gtk_button_new(), l.close.rect);
    atk_object_set_name(gtk_widget_get_accessible(close), "Close");
    g_signal_connect(close, "clicked", G_CALLBACK(+[](GtkButton*, gpointer self) {
                         auto* v = static_cast<SkinView*>(self);
                         if (v->m_painter) v->m_onCommand(v->m_painter->Layout().close.strCommand, L"");
                     }),
                     this);
    // The pointer goes to the drawing below, which shows the button's hover and pressed looks.
    g_signal_connect(close, "realize", G_CALLBACK(+[](GtkWidget* w, gpointer) {
                         if (GdkWindow* input = gtk_button_get_event_window(GTK_BUTTON(w))) {
                             cairo_region_t* none = cairo_region_create();
                             gdk_window_input_shape_combine_region(input, none, 0, 0);
                             cairo_region_destroy(none);
                         }
                     }),
                     nullptr);
    UpdateAccessible();
}

void SkinView::UpdateAccessible() {
    const auto fraction = [](const SkinBarState& b) { return b.nMax > 0 ? std::clamp(static_cast<double>(b.nValue) / b.nMax, 0.0, 1.0) : 0.0; };
    if (m_installBar != nullptr) gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(m_installBar), fraction(m_state.install));
    if (m_statesBar != nullptr) gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(m_statesBar), fraction(m_state.states));
    if (m_installLabel != nullptr) gtk_label_set_text(GTK_LABEL(m_installLabel), Utf8(m_state.install.strLabel).c_str());
    if (m_statesLabel != nullptr) gtk_label_set_text(GTK_LABEL(m_statesLabel), Utf8(m_state.states.strLabel).c_str());
    if (m_percent != nullptr) gtk_label_set_text(GTK_LABEL(m_percent), Utf8(PercentText(m_state.install)).c_str());
}

void SkinView::WhenLoaded(std::function<void(bool, const DispatchError&)> done) {
    if (m_web) {
        m_web->WhenLoaded(std::move(done));
        return;
    }
    if (m_painter) done(true, DispatchError{});
    else done(false, Error("no skin is loaded"));
}

void SkinView::Trace(const std::wstring& szName, const std::vector<std::wstring>& args) {
    std::wstring line = szName;
    for (const auto& a : args) line += L"\t" + a;
    m_onCommand(L"trace", line);
}

void SkinView::CallFunction(const std::wstring& szName, const std::vector<std::wstring>& args,
                            std::function<void(bool, const DispatchError&)> done) {
    if (m_web) {
        m_web->CallFunction(szName, args, std::move(done));
        return;
    }
    if (!m_painter) {
        if (done) done(false, Error("no skin is loaded"));
        return;
    }
    if (m_bTrace) Trace(szName, args);
    if (!m_state.Apply(szName, args)) {
        if (done) done(false, Error("the skin has no function " + Utf8(szName)));
        return;
    }
    UpdateAccessible();
    gtk_widget_queue_draw(m_area);
    if (done) done(true, DispatchError{});
}

void SkinView::Move(int x, int y, int nWidth, int nHeight) {
    gtk_widget_set_size_request(m_box, std::max(nWidth, 1), std::max(nHeight, 1));
    gtk_widget_set_size_request(m_area, std::max(nWidth, 1), std::max(nHeight, 1));
    if (m_web) m_web->Move(0, 0, nWidth, nHeight);
    if (m_place) m_place(m_box, x, y);
}

void SkinView::Show(bool bShow) {
    if (bShow) gtk_widget_show(m_box);
    else gtk_widget_hide(m_box);
}

bool SkinView::DrawInto(cairo_t* cr) {
    if (m_web) {
        cairo_surface_t* snap = m_web->Snapshot();
        if (snap == nullptr) return false;
        cairo_set_source_surface(cr, snap, 0, 0);
        cairo_paint(cr);
        cairo_surface_destroy(snap);
        return true;
    }
    if (!m_painter) return false;
    m_painter->Paint(cr, 1, m_state, ButtonLook::Normal);
    return true;
}

gboolean SkinView::OnDraw(GtkWidget* w, cairo_t* cr, gpointer self) {
    auto* v = static_cast<SkinView*>(self);
    if (v->m_painter) v->m_painter->Paint(cr, gtk_widget_get_scale_factor(w), v->m_state, v->m_look);
    return FALSE;
}

gboolean SkinView::OnPointer(GtkWidget*, GdkEvent* event, gpointer self) {
    auto* v = static_cast<SkinView*>(self);
    if (!v->m_painter) return FALSE;
    const SkinRect& button = v->m_painter->Layout().close.rect;
    double x = -1, y = -1;
    gdk_event_get_coords(event, &x, &y);
    const bool over = event->type != GDK_LEAVE_NOTIFY && Inside(button, x, y);
    bool fire = false;
    if (event->type == GDK_BUTTON_PRESS && event->button.button == 1 && over) v->m_bPressed = true;
    if (event->type == GDK_BUTTON_RELEASE && event->button.button == 1) {
        fire = v->m_bPressed && over;
        v->m_bPressed = false;
    }
    const ButtonLook look = over ? (v->m_bPressed ? ButtonLook::Pressed : ButtonLook::Hover) : ButtonLook::Normal;
    if (look != v->m_look) {
        v->m_look = look;
        gtk_widget_queue_draw_area(v->m_area, button.x, button.y, button.nWidth, button.nHeight);
    }
    // As a skin page's button: pressed and released over it.
    if (fire && v->m_onCommand) v->m_onCommand(v->m_painter->Layout().close.strCommand, L"");
    return TRUE;
}

}  // namespace platform::gtkwin
