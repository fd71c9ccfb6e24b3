#include "ui/InvokeRequest.h"

#include <cwctype>
#include <string_view>

namespace OrvoUi {

std::wstring EscapeXmlText(const std::wstring& szText) {
    std::wstring out;
    out.reserve(szText.size());
    for (wchar_t c : szText) {
        switch (c) {
            case L'&': out += L"&amp;"; break;
            case L'<': out += L"&lt;"; break;
            case L'>': out += L"&gt;"; break;
            case L'\'': out += L"&apos;"; break;
            case L'"': out += L"&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::wstring BuildInvokeRequest(const std::wstring& szName, const std::vector<std::wstring>& args) {
    std::wstring out = L"<invoke name='" + EscapeXmlText(szName) + L"'><arguments>";
    for (const auto& a : args) out += L"<string>" + EscapeXmlText(a) + L"</string>";
    return out + L"</arguments></invoke>";
}

namespace {

class Reader {
public:
    explicit Reader(std::wstring_view text) : m_text(text) {}
    bool Take(std::wstring_view literal) {
        if (m_text.substr(m_pos, literal.size()) != literal) return false;
        m_pos += literal.size();
        return true;
    }
    bool AtEnd() const { return m_pos == m_text.size(); }
    // Text up to (not including) the stop character, entities decoded; false on a malformed or
    // unknown entity, or on a '<' inside it.
    bool Text(wchar_t stop, std::wstring* out) {
        while (m_pos < m_text.size() && m_text[m_pos] != stop) {
            const wchar_t c = m_text[m_pos];
            if (c == L'<' || (stop != L'<' && c == L'>')) return false;
            if (c != L'&') {
                *out += c;
                ++m_pos;
                continue;
            }
            const size_t semi = m_text.find(L';', m_pos);
            if (semi == std::wstring_view::npos || semi - m_pos > 12) return false;
            const std::wstring_view entity = m_text.substr(m_pos + 1, semi - m_pos - 1);
            if (!Decode(entity, out)) return false;
            m_pos = semi + 1;
        }
        return m_pos < m_text.size();
    }

private:
    static bool Decode(std::wstring_view e, std::wstring* out) {
        if (e == L"amp") *out += L'&';
        else if (e == L"lt") *out += L'<';
        else if (e == L"gt") *out += L'>';
        else if (e == L"apos") *out += L'\'';
        else if (e == L"quot") *out += L'"';
        else if (e.size() > 1 && e[0] == L'#') {
            const bool hex = e[1] == L'x';
            const std::wstring_view digits = e.substr(hex ? 2 : 1);
            if (digits.empty()) return false;
            unsigned long v = 0;
            for (wchar_t d : digits) {
                int n;
                if (d >= L'0' && d <= L'9') n = d - L'0';
                else if (hex && d >= L'a' && d <= L'f') n = d - L'a' + 10;
                else if (hex && d >= L'A' && d <= L'F') n = d - L'A' + 10;
                else return false;
                v = v * (hex ? 16 : 10) + n;
                if (v > 0x10FFFF) return false;
            }
            if (v == 0 || (v >= 0xD800 && v <= 0xDFFF)) return false;
            if constexpr (sizeof(wchar_t) == 2) {
                if (v > 0xFFFF) {
                    v -= 0x10000;
                    *out += static_cast<wchar_t>(0xD800 + (v >> 10));
                    *out += static_cast<wchar_t>(0xDC00 + (v & 0x3FF));
                    return true;
                }
            }
            *out += static_cast<wchar_t>(v);
        } else {
            return false;
        }
        return true;
    }

    std::wstring_view m_text;
    size_t m_pos = 0;
};

bool IsIdentifier(const std::wstring& s) {
    if (s.empty() || s.size() > 128) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        const wchar_t c = s[i];
        const bool alpha = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_' || c == L'$';
        if (!alpha && !(i > 0 && c >= L'0' && c <= L'9')) return false;
    }
    return true;
}

}  // namespace

std::optional<InvokeRequest> ParseInvokeRequest(const std::wstring& szRequest) {
    Reader r(szRequest);
    InvokeRequest req;
    if (!r.Take(L"<invoke name=")) return std::nullopt;
    wchar_t quote;
    if (r.Take(L"'")) quote = L'\'';
    else if (r.Take(L"\"")) quote = L'"';
    else return std::nullopt;
    if (!r.Text(quote, &req.strName) || !r.Take(std::wstring_view(&quote, 1))) return std::nullopt;
    if (!IsIdentifier(req.strName)) return std::nullopt;
    if (!r.Take(L"><arguments>")) return std::nullopt;
    while (r.Take(L"<string>")) {
        std::wstring arg;
        if (!r.Text(L'<', &arg) || !r.Take(L"</string>")) return std::nullopt;
        req.args.push_back(std::move(arg));
    }
    if (!r.Take(L"</arguments></invoke>") || !r.AtEnd()) return std::nullopt;
    return req;
}

}  // namespace OrvoUi
