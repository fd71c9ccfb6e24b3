#include "platform/linux/gtk/gtk_util.h"

#include <algorithm>
#include <thread>

namespace platform::gtkwin {

namespace {
std::thread::id g_windowThread;
}

std::string Utf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto c = static_cast<uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        char buf[6];
        const int n = g_unichar_to_utf8(c, buf);
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

std::wstring Wide(const char* utf8) {
    std::wstring out;
    if (utf8 == nullptr) return out;
    for (const char* p = utf8; *p != '\0';) {
        const gunichar c = g_utf8_get_char_validated(p, -1);
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
            out += L'\uFFFD';
            ++p;
            continue;
        }
        out += static_cast<wchar_t>(c);
        p = g_utf8_next_char(p);
    }
    return out;
}

bool IterateUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    GMainContext* ctx = g_main_context_default();
    // Whatever makes done() true is an event of this context; one timeout wakes the blocking
    // iteration when the time is up.
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(limit).count();
    const guint deadline = g_timeout_add(static_cast<guint>(std::min<long long>(ms, G_MAXUINT)),
                                         [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (!done() && std::chrono::steady_clock::now() < until) g_main_context_iteration(ctx, TRUE);
    g_source_remove(deadline);
    return done();
}

bool OnWindowThread() { return std::this_thread::get_id() == g_windowThread; }
void SetWindowThread() { g_windowThread = std::this_thread::get_id(); }

}  // namespace platform::gtkwin
