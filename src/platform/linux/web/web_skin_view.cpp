#include "platform/linux/web/web_skin_view.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/web/engine_priority.h"
#include "platform/linux/gtk/gtk_util.h"

namespace platform::gtkwin {

namespace {

constexpr int32_t kScodeFailed = static_cast<int32_t>(0x80004005);  // the generic failure status
constexpr std::chrono::seconds kLoadLimit{15};
constexpr std::chrono::seconds kSnapshotLimit{10};

// The page's way to the host, defined before any script of the page runs.
constexpr const char* kHostScript =
    "window.orvoHost = Object.freeze({ command: function (command, argument) {"
    " window.webkit.messageHandlers.orvo.postMessage([String(command), argument === undefined ? '' : String(argument)]);"
    " } });";

// One context for every skin view: nothing kept on disk, and every network request sent to a
// proxy that cannot be reached, so a skin never talks to the network.
WebKitWebContext* SkinContext() {
    static WebKitWebContext* context = [] {
        WebKitWebsiteDataManager* data = webkit_website_data_manager_new_ephemeral();
        WebKitNetworkProxySettings* proxy = webkit_network_proxy_settings_new("http://127.0.0.1:1", nullptr);
        webkit_website_data_manager_set_network_proxy_settings(data, WEBKIT_NETWORK_PROXY_MODE_CUSTOM, proxy);
        webkit_network_proxy_settings_free(proxy);
        WebKitWebContext* ctx = webkit_web_context_new_with_website_data_manager(data);
        g_object_unref(data);
        webkit_web_context_set_cache_model(ctx, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
        return ctx;
    }();
    return context;
}

DispatchError Error(const std::string& text) { return {Wide(text.c_str()), kScodeFailed, 0}; }

}  // namespace

WebSkinView::WebSkinView(CommandHandler onCommand, WebSkinView* related) : m_onCommand(std::move(onCommand)) {
    WebKitSettings* settings = webkit_settings_new();
    // With GL compositing a shaped window shows a strip of theme background, and the first
    // paint comes later.
    webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit_settings_set_enable_page_cache(settings, FALSE);

    WebKitUserContentManager* content = webkit_user_content_manager_new();
    WebKitUserScript* script = webkit_user_script_new(kHostScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, script);
    webkit_user_script_unref(script);
    g_signal_connect(content, "script-message-received::orvo", G_CALLBACK(OnScriptMessage), this);
    webkit_user_content_manager_register_script_message_handler(content, "orvo");

    if (related != nullptr) {
        m_view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", related->m_view, "settings", settings,
                                              "user-content-manager", content, nullptr));
    } else {
        m_view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", SkinContext(), "settings", settings,
                                              "user-content-manager", content, nullptr));
    }
    g_object_unref(settings);
    g_object_unref(content);
    g_object_ref_sink(m_view);
    g_signal_connect(m_view, "load-changed", G_CALLBACK(OnLoadChanged), this);
    g_signal_connect(m_view, "load-failed", G_CALLBACK(OnLoadFailed), this);
    g_signal_connect(m_view, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
    // The skin decides its own look; no context menu of the engine.
    g_signal_connect(m_view, "context-menu", G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) -> gboolean { return TRUE; }), nullptr);
    ApplyBackground();
}

WebSkinView::~WebSkinView() {
    m_live->bAlive = false;
    if (m_loadTimer != 0) g_source_remove(m_loadTimer);
    if (m_view != nullptr) {
        g_signal_handlers_disconnect_by_data(m_view, this);
        g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(m_view), this);
        GtkWidget* w = GTK_WIDGET(m_view);
        if (GtkWidget* parent = gtk_widget_get_parent(w)) gtk_container_remove(GTK_CONTAINER(parent), w);
        g_object_unref(m_view);
    }
}

void WebSkinView::ApplyBackground() {
    GdkRGBA rgba{((m_nColor >> 16) & 0xFF) / 255.0, ((m_nColor >> 8) & 0xFF) / 255.0, (m_nColor & 0xFF) / 255.0, 1.0};
    if (m_bTransparent) rgba = GdkRGBA{0, 0, 0, 0};
    webkit_web_view_set_background_color(m_view, &rgba);
}

bool WebSkinView::SetWMode(const std::wstring& szMode, DispatchError*) {
    m_bTransparent = g_ascii_strcasecmp(Utf8(szMode).c_str(), "Transparent") == 0;
    ApplyBackground();
    return true;
}

bool WebSkinView::SetBackgroundColor(int32_t nColor, DispatchError*) {
    m_nColor = nColor & 0xFFFFFF;
    ApplyBackground();
    return true;
}

bool WebSkinView::LoadMovie(int nLayer, const std::wstring& szPath, DispatchError* pError) {
    if (nLayer != 0) {
        if (pError) *pError = Error("only layer 0 can hold the skin");
        return false;
    }
    std::string path = Utf8(szPath);
    for (char& c : path)
        if (c == '\\') c = '/';
    struct stat st {};
    int err = 0;
    if (path.empty() || path[0] != '/') err = ENOENT;
    else if (::stat(path.c_str(), &st) != 0) err = errno;
    else if (S_ISDIR(st.st_mode)) err = EISDIR;
    else if (!S_ISREG(st.st_mode)) err = EINVAL;
    if (err != 0) {
        if (pError) *pError = Error("the skin page " + path + " cannot be read: " + std::strerror(err));
        return false;
    }
    GError* gerr = nullptr;
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, &gerr);
    if (uri == nullptr) {
        if (pError) *pError = Error(gerr != nullptr ? gerr->message : "bad skin path");
        g_clear_error(&gerr);
        return false;
    }
    m_load = LoadState::Loading;
    m_strLoadError.clear();
    webkit_web_view_load_uri(m_view, uri);
    g_free(uri);
    LowerEnginePriority();
    // The page loads while the dialog goes on; calls made meanwhile wait for it, and a page
    // that never finishes is given up after a while.
    if (m_loadTimer != 0) g_source_remove(m_loadTimer);
    m_loadTimer = g_timeout_add_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(std::chrono::milliseconds(kLoadLimit).count()),
        [](gpointer self) -> gboolean {
            auto* v = static_cast<WebSkinView*>(self);
            v->m_loadTimer = 0;
            if (v->m_load == LoadState::Loading) {
                v->m_load = LoadState::Failed;
                v->m_strLoadError = "the skin page did not load in time";
                webkit_web_view_stop_loading(v->m_view);
                v->FinishLoad(false);
            }
            return G_SOURCE_REMOVE;
        },
        this, nullptr);
    return true;
}

bool WebSkinView::LoadLayout(const SkinLayout&, DispatchError* pError) {
    if (pError) *pError = Error("a web view shows skin pages only");
    return false;
}

void WebSkinView::WhenLoaded(std::function<void(bool, const DispatchError&)> done) {
    switch (m_load) {
        case LoadState::Loading: m_loadWaiters.push_back(std::move(done)); return;
        case LoadState::Loaded: done(true, DispatchError{}); return;
        case LoadState::Failed: done(false, Error(m_strLoadError)); return;
        case LoadState::None: done(false, Error("no skin page is loaded")); return;
    }
}

void WebSkinView::FinishLoad(bool bOk) {
    if (m_loadTimer != 0) {
        g_source_remove(m_loadTimer);
        m_loadTimer = 0;
    }
    const auto live = m_live;
    if (bOk) {
        std::vector<Call> pending;
        pending.swap(m_pending);
        for (auto& c : pending) Send(std::move(c));
    } else {
        FailPending(m_strLoadError);
    }
    std::vector<std::function<void(bool, const DispatchError&)>> waiters;
    waiters.swap(m_loadWaiters);
    const DispatchError error = bOk ? DispatchError{} : Error(m_strLoadError);
    for (auto& w : waiters) {
        if (!live->bAlive) return;
        w(bOk, error);
    }
}

void WebSkinView::OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    auto* v = static_cast<WebSkinView*>(self);
    if (event == WEBKIT_LOAD_STARTED || event == WEBKIT_LOAD_COMMITTED) LowerEnginePriority();
    if (event != WEBKIT_LOAD_FINISHED || v->m_load != LoadState::Loading) return;
    v->m_load = LoadState::Loaded;
    v->FinishLoad(true);
}

gboolean WebSkinView::OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer self) {
    auto* v = static_cast<WebSkinView*>(self);
    if (v->m_load != LoadState::Loading) return TRUE;
    v->m_load = LoadState::Failed;
    v->m_strLoadError = std::string("the skin page ") + (uri != nullptr ? uri : "") + " failed to load: " +
                        (error != nullptr ? error->message : "unknown error");
    v->FinishLoad(false);
    return TRUE;
}

gboolean WebSkinView::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, gpointer) {
    switch (type) {
        case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
            WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
            const gchar* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
            // The skin stays a local page: no navigation to anything else.
            if (uri != nullptr && (g_str_has_prefix(uri, "file:") || g_str_has_prefix(uri, "about:"))) webkit_policy_decision_use(decision);
            else webkit_policy_decision_ignore(decision);
            return TRUE;
        }
        case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: webkit_policy_decision_ignore(decision); return TRUE;
        case WEBKIT_POLICY_DECISION_TYPE_RESPONSE:
            if (!webkit_response_policy_decision_is_mime_type_supported(WEBKIT_RESPONSE_POLICY_DECISION(decision))) {
                webkit_policy_decision_ignore(decision);
                return TRUE;
            }
            return FALSE;
    }
    return FALSE;
}

void WebSkinView::OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self) {
    auto* v = static_cast<WebSkinView*>(self);
    if (!v->m_onCommand) return;
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    if (!jsc_value_is_array(value)) return;
    JSCValue* cmd = jsc_value_object_get_property_at_index(value, 0);
    JSCValue* arg = jsc_value_object_get_property_at_index(value, 1);
    gchar* c = jsc_value_to_string(cmd);
    gchar* a = jsc_value_to_string(arg);
    const std::wstring command = Wide(c), argument = Wide(a);
    g_free(c);
    g_free(a);
    g_object_unref(cmd);
    g_object_unref(arg);
    v->m_onCommand(command, argument);
}

void WebSkinView::CallFunction(const std::wstring& szName, const std::vector<std::wstring>& args,
                            std::function<void(bool, const DispatchError&)> done) {
    Call call{Utf8(szName), {}, std::move(done)};
    for (const auto& a : args) call.args.push_back(Utf8(a));
    switch (m_load) {
        case LoadState::Loading: m_pending.push_back(std::move(call)); return;
        case LoadState::Loaded: Send(std::move(call)); return;
        case LoadState::None:
        case LoadState::Failed:
            if (call.done) call.done(false, Error("no skin page is loaded"));
            return;
    }
}

void WebSkinView::Send(Call call) {
    // The function's name and its arguments travel as values; the script text below is fixed
    // apart from the argument count, so nothing a label holds can become script.
    std::string body = "const f = globalThis[fn]; if (typeof f !== 'function') throw new TypeError('the skin has no function ' + fn);\nf.call(globalThis";
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&b, "{sv}", "fn", g_variant_new_string(call.name.c_str()));
    for (size_t i = 0; i < call.args.size(); ++i) {
        std::string key = "a";  // appended, not "a" + …: GCC 12 warns wrongly on that form
        key += std::to_string(i);
        g_variant_builder_add(&b, "{sv}", key.c_str(), g_variant_new_string(call.args[i].c_str()));
        body += ", " + key;
    }
    body += ");\nreturn null;";
    struct Pending {
        std::shared_ptr<Liveness> live;
        std::function<void(bool, const DispatchError&)> done;
    };
    auto* p = new Pending{m_live, std::move(call.done)};
    webkit_web_view_call_async_javascript_function(
        m_view, body.c_str(), static_cast<gssize>(body.size()), g_variant_builder_end(&b), nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* res, gpointer data) {
            std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
            GError* err = nullptr;
            JSCValue* value = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), res, &err);
            if (value != nullptr) g_object_unref(value);
            if (pending->live->bAlive && pending->done) {
                pending->done(err == nullptr, err == nullptr ? DispatchError{} : Error(err->message));
            }
            g_clear_error(&err);
        },
        p);
}

void WebSkinView::FailPending(const std::string& why) {
    std::vector<Call> pending;
    pending.swap(m_pending);
    for (auto& c : pending)
        if (c.done) c.done(false, Error(why));
}

void WebSkinView::Move(int x, int y, int nWidth, int nHeight) {
    // The native view that holds this one places it.
    (void)x;
    (void)y;
    gtk_widget_set_size_request(Widget(), std::max(nWidth, 1), std::max(nHeight, 1));
}

void WebSkinView::Show(bool bShow) {
    if (bShow) gtk_widget_show(Widget());
    else gtk_widget_hide(Widget());
}

cairo_surface_t* WebSkinView::Snapshot() {
    // A page still loading would be pictured blank.
    IterateUntil([&] { return m_load != LoadState::Loading; }, kLoadLimit);
    struct State {
        bool bDone = false;
        cairo_surface_t* surface = nullptr;
    };
    auto state = std::make_shared<State>();
    auto* holder = new std::shared_ptr<State>(state);
    webkit_web_view_get_snapshot(
        m_view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
        [](GObject* source, GAsyncResult* res, gpointer data) {
            std::unique_ptr<std::shared_ptr<State>> s(static_cast<std::shared_ptr<State>*>(data));
            (*s)->surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), res, nullptr);
            (*s)->bDone = true;
        },
        holder);
    IterateUntil([&] { return state->bDone; }, kSnapshotLimit);
    cairo_surface_t* out = state->surface;
    state->surface = nullptr;
    return out;
}

}  // namespace platform::gtkwin
