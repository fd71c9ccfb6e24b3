#include "platform/linux/gtk/dialog_window.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <atomic>

#include "platform/linux/gtk/gtk_util.h"

namespace platform::gtkwin {

namespace {

std::atomic<int> g_modalLoops{0};
std::atomic<int> g_queuedBoxes{0};

struct TimerData {
    std::weak_ptr<void> mailbox;
    DialogWindow* owner;
    uint32_t nId;
};

}  // namespace

bool DialogWindow::ModalLoopRunning() { return g_modalLoops.load() > 0; }
void DialogWindow::BoxQueued() { ++g_queuedBoxes; }
void DialogWindow::BoxShown() { --g_queuedBoxes; }

DialogWindow::DialogWindow(IDialogEvents& events) : m_events(events) {
    m_mailbox->owner = this;
    m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(m_window);
    gtk_window_set_decorated(GTK_WINDOW(m_window), FALSE);
    gtk_widget_set_app_paintable(m_window, TRUE);
    GdkScreen* screen = gtk_widget_get_screen(m_window);
    if (GdkVisual* rgba = gdk_screen_get_rgba_visual(screen); rgba != nullptr && gdk_screen_is_composited(screen))
        gtk_widget_set_visual(m_window, rgba);
    // The page draws everything; what it leaves uncovered stays clear.
    g_signal_connect(m_window, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer) -> gboolean {
                         cairo_save(cr);
                         cairo_set_source_rgba(cr, 0, 0, 0, 0);
                         cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
                         cairo_paint(cr);
                         cairo_restore(cr);
                         return FALSE;
                     }),
                     nullptr);
    // Keys never reach the dialog or the skin (Enter and Escape must not end it), and only the
    // skin's close command or the end of the run close it.
    g_signal_connect(m_window, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean { return TRUE; }), nullptr);
    g_signal_connect(m_window, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean { return TRUE; }), nullptr);
    g_signal_connect(m_window, "destroy", G_CALLBACK(OnWindowDestroyed), this);
    g_signal_connect(m_window, "size-allocate", G_CALLBACK(OnSizeAllocate), this);

    // A layout, unlike a fixed container, does not make the window as large as its children.
    m_fixed = gtk_layout_new(nullptr, nullptr);
    gtk_container_add(GTK_CONTAINER(m_window), m_fixed);
    gtk_widget_show(m_fixed);

    m_visible = std::make_unique<SkinView>(
        [this](const std::wstring& c, const std::wstring& a) { m_events.OnSkinCommand(c, a); }, nullptr);
    gtk_layout_put(GTK_LAYOUT(m_fixed), m_visible->Widget(), 0, 0);
    m_visible->m_place = [this](GtkWidget* w, int x, int y) { gtk_layout_move(GTK_LAYOUT(m_fixed), w, x, y); };
    g_signal_connect_after(m_visible->Widget(), "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer self) -> gboolean {
                               auto* d = static_cast<DialogWindow*>(self);
                               if (!d->m_bFirstFrame && gtk_widget_get_mapped(d->m_window)) {
                                   d->m_bFirstFrame = true;
                                   d->m_events.OnFirstFrame();
                               }
                               return FALSE;
                           }),
                           this);

    // The shape copy must be realised and mapped to be pictured, but never seen.
    m_offscreen = gtk_offscreen_window_new();
    g_object_ref_sink(m_offscreen);
    m_shape = std::make_unique<SkinView>(SkinView::CommandHandler{}, m_visible.get());
    gtk_container_add(GTK_CONTAINER(m_offscreen), m_shape->Widget());
    m_shape->m_place = [](GtkWidget*, int, int) {};
    m_shape->Move(0, 0, 800, 600);
    gtk_widget_show_all(m_offscreen);
}

DialogWindow::~DialogWindow() {
    for (auto& [id, source] : m_timers) g_source_remove(source);
    m_timers.clear();
    {
        std::lock_guard<std::mutex> guard(m_mailbox->cs);
        m_mailbox->owner = nullptr;
        m_mailbox->queue.clear();
    }
    g_signal_handlers_disconnect_by_data(m_window, this);
    g_signal_handlers_disconnect_by_data(m_visible->Widget(), this);
    if (!m_bDestroyed) gtk_widget_destroy(m_window);
    gtk_widget_destroy(m_offscreen);
    m_visible.reset();
    m_shape.reset();
    g_object_unref(m_offscreen);
    g_object_unref(m_window);
    if (m_loop != nullptr) g_main_loop_unref(m_loop);
}

ISkinView& DialogWindow::Skin(int nId) { return nId == kSkinShape ? *m_shape : *m_visible; }

void DialogWindow::SetTitle(const std::wstring& szTitle) { gtk_window_set_title(GTK_WINDOW(m_window), Utf8(szTitle).c_str()); }

void DialogWindow::Show(bool bShow) {
    if (m_bDestroyed) return;
    // A window of no size cannot be mapped; it stays invisible, as a 0 x 0 window would.
    if (bShow && m_nWidth > 0 && m_nHeight > 0) gtk_widget_show(m_window);
    else if (!bShow) gtk_widget_hide(m_window);
}

void DialogWindow::Move(int x, int y, int nWidth, int nHeight) {
    if (m_bDestroyed) return;
    m_nWidth = nWidth;
    m_nHeight = nHeight;
    if (nWidth <= 0 || nHeight <= 0) {
        gtk_widget_hide(m_window);
        return;
    }
    gtk_window_resize(GTK_WINDOW(m_window), nWidth, nHeight);
    if (m_bEmbedded) {
        // Inside another application's window no window manager answers: the size is set
        // directly and the contents are laid out for it.
        gtk_widget_set_size_request(m_window, nWidth, nHeight);
        if (GdkWindow* w = gtk_widget_get_window(m_window)) gdk_window_move_resize(w, x, y, nWidth, nHeight);
        GtkAllocation a{0, 0, nWidth, nHeight};
        gtk_widget_size_allocate(m_window, &a);
    } else {
        gtk_window_move(GTK_WINDOW(m_window), x, y);
    }
}

void DialogWindow::SetTopmost() {
    if (!m_bDestroyed && !m_bEmbedded) gtk_window_set_keep_above(GTK_WINDOW(m_window), TRUE);
}

void DialogWindow::SetTimer(uint32_t nId, uint32_t nMilliseconds) {
    KillTimer(nId);
    auto* data = new TimerData{m_mailbox, this, nId};
    m_timers[nId] = g_timeout_add_full(
        G_PRIORITY_DEFAULT, nMilliseconds,
        [](gpointer p) -> gboolean {
            auto* t = static_cast<TimerData*>(p);
            if (t->mailbox.expired()) return G_SOURCE_REMOVE;
            t->owner->m_events.OnTimer(t->nId);
            return G_SOURCE_CONTINUE;
        },
        data, [](gpointer p) { delete static_cast<TimerData*>(p); });
}

void DialogWindow::KillTimer(uint32_t nId) {
    auto it = m_timers.find(nId);
    if (it == m_timers.end()) return;
    g_source_remove(it->second);
    m_timers.erase(it);
}

void DialogWindow::PostDialogMessage(uint32_t nMessage, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard<std::mutex> guard(m_mailbox->cs);
    if (m_mailbox->owner == nullptr) return;  // the window is gone
    m_mailbox->queue.push_back({nMessage, wParam, lParam});
    if (m_mailbox->bScheduled) return;
    m_mailbox->bScheduled = true;
    g_idle_add_full(G_PRIORITY_DEFAULT, DeliverPosted, new std::shared_ptr<Mailbox>(m_mailbox),
                    [](gpointer p) { delete static_cast<std::shared_ptr<Mailbox>*>(p); });
}

gboolean DialogWindow::DeliverPosted(gpointer data) {
    Mailbox& box = **static_cast<std::shared_ptr<Mailbox>*>(data);
    for (;;) {
        Posted m;
        DialogWindow* owner;
        {
            std::lock_guard<std::mutex> guard(box.cs);
            if (box.queue.empty() || box.owner == nullptr) {
                box.bScheduled = false;
                return G_SOURCE_REMOVE;
            }
            m = box.queue.front();
            box.queue.pop_front();
            owner = box.owner;
        }
        owner->m_events.OnMessage(m.nMessage, m.wParam, m.lParam);
    }
}

void DialogWindow::RunModal() {
    if (m_bDestroyed) return;
    if (m_loop == nullptr) m_loop = g_main_loop_new(nullptr, FALSE);
    ++g_modalLoops;
    g_main_loop_run(m_loop);
    // A box waits for its answer as long as it takes, as a modal box does.
    IterateUntil([] { return g_queuedBoxes.load() == 0; }, std::chrono::hours(24 * 365));
    --g_modalLoops;
}

void DialogWindow::EndModal() {
    if (m_loop != nullptr) g_main_loop_quit(m_loop);
}

void DialogWindow::Destroy() {
    if (!m_bDestroyed) gtk_widget_destroy(m_window);
}

void DialogWindow::OnWindowDestroyed(GtkWidget*, gpointer self) {
    auto* d = static_cast<DialogWindow*>(self);
    if (d->m_bDestroyed) return;
    d->m_bDestroyed = true;
    for (auto& [id, source] : d->m_timers) g_source_remove(source);
    d->m_timers.clear();
    {
        std::lock_guard<std::mutex> guard(d->m_mailbox->cs);
        d->m_mailbox->owner = nullptr;
        d->m_mailbox->queue.clear();
    }
    d->m_events.OnDestroy();
    d->EndModal();
}

void DialogWindow::OnSizeAllocate(GtkWidget*, GdkRectangle* a, gpointer self) {
    auto* d = static_cast<DialogWindow*>(self);
    if (a->width == d->m_nLastWidth && a->height == d->m_nLastHeight) return;
    d->m_nLastWidth = a->width;
    d->m_nLastHeight = a->height;
    d->m_events.OnSize(a->width, a->height);
}

bool DialogWindow::SetParent(WindowHandle hParent) {
    if (m_bDestroyed || hParent <= 0) return false;
    gtk_widget_realize(m_window);
    GdkDisplay* display = gtk_widget_get_display(m_window);
    // From here on the caller's window may vanish at any moment: its errors are expected and
    // must not end the process, so the trap stays for the rest of the run.
    gdk_x11_display_error_trap_push(display);
    GdkWindow* parent = gdk_x11_window_foreign_new_for_display(display, static_cast<Window>(hParent));
    if (parent == nullptr) return false;
    gdk_window_reparent(gtk_widget_get_window(m_window), parent, 0, 0);
    gdk_display_sync(display);
    m_bEmbedded = true;
    return true;
}

bool DialogWindow::GetClientSize(WindowHandle hWnd, int* pWidth, int* pHeight) {
    if (hWnd <= 0) return false;
    GdkDisplay* display = gdk_display_get_default();
    Display* x = GDK_DISPLAY_XDISPLAY(display);
    gdk_x11_display_error_trap_push(display);
    XWindowAttributes attrs;
    const Status ok = XGetWindowAttributes(x, static_cast<Window>(hWnd), &attrs);
    if (gdk_x11_display_error_trap_pop(display) != 0 || ok == 0) return false;
    *pWidth = attrs.width;
    *pHeight = attrs.height;
    return true;
}

WorkArea DialogWindow::MonitorWorkArea() {
    GdkDisplay* display = gtk_widget_get_display(m_window);
    GdkMonitor* monitor = nullptr;
    if (GdkWindow* w = gtk_widget_get_window(m_window)) monitor = gdk_display_get_monitor_at_window(display, w);
    if (monitor == nullptr) monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
    if (monitor == nullptr) return {};
    GdkRectangle r;
    gdk_monitor_get_workarea(monitor, &r);
    return {r.x, r.y, r.width, r.height};
}

bool DialogWindow::DrawSkin(int nId, Picture& picture) {
    SkinView& view = nId == kSkinShape ? *m_shape : *m_visible;
    if (picture.nWidth <= 0 || picture.nHeight <= 0 ||
        picture.nStride != cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, picture.nWidth) ||
        picture.bits.size() < static_cast<size_t>(picture.nStride) * picture.nHeight)
        return false;
    // A page must have taken its new size before it is pictured.
    int rw = 0, rh = 0;
    gtk_widget_get_size_request(view.Widget(), &rw, &rh);
    IterateUntil([&] { return gtk_widget_get_allocated_width(view.Widget()) == rw && gtk_widget_get_allocated_height(view.Widget()) == rh; },
                 std::chrono::seconds(2));
    cairo_surface_t* target = cairo_image_surface_create_for_data(picture.bits.data(), CAIRO_FORMAT_ARGB32, picture.nWidth,
                                                                  picture.nHeight, picture.nStride);
    cairo_t* cr = cairo_create(target);
    bool ok = view.DrawInto(cr);
    cairo_destroy(cr);
    cairo_surface_flush(target);
    ok = ok && cairo_surface_status(target) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(target);
    return ok;
}

bool DialogWindow::ApplyShape(const std::vector<Rect>& rects) {
    if (m_bDestroyed) return false;
    if (rects.empty()) {
        gtk_widget_shape_combine_region(m_window, nullptr);
        gtk_widget_input_shape_combine_region(m_window, nullptr);
        return true;
    }
    cairo_region_t* region = cairo_region_create();
    for (const Rect& r : rects) {
        const cairo_rectangle_int_t c{r.x, r.y, r.nWidth, r.nHeight};
        cairo_region_union_rectangle(region, &c);
    }
    gtk_widget_shape_combine_region(m_window, region);
    gtk_widget_input_shape_combine_region(m_window, region);
    cairo_region_destroy(region);
    return true;
}

WindowHandle DialogWindow::Handle() const {
    if (m_bDestroyed) return 0;
    GdkWindow* w = gtk_widget_get_window(m_window);
    return w != nullptr ? static_cast<WindowHandle>(GDK_WINDOW_XID(w)) : 0;
}

}  // namespace platform::gtkwin
