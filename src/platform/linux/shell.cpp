#include "platform/shell.h"

#include <sys/stat.h>

#include <span>
#include <string_view>

#include "platform/fs.h"
#include "platform/strings.h"

namespace platform {

namespace {

// A value as desktop entries store it: backslash, newline, tab and carriage return as escape
// sequences, spaces at either end as "\s" (readers trim them otherwise), other control
// characters dropped (they are not allowed in a value at all).
std::string EscapeValue(std::wstring_view value) {
    std::wstring out;
    for (size_t i = 0; i < value.size(); ++i) {
        const wchar_t c = value[i];
        switch (c) {
            case L'\\': out += L"\\\\"; break;
            case L'\n': out += L"\\n"; break;
            case L'\t': out += L"\\t"; break;
            case L'\r': out += L"\\r"; break;
            case L' ': out += (i == 0 || i + 1 == value.size()) ? L"\\s" : L" "; break;
            default:
                if (c < 0x20 || c == 0x7F) break;
                out += c;
        }
    }
    return ToUtf8(out);
}

// One argument of Exec=: double-quoted, with the characters that stay special inside quotes
// escaped, and '%' doubled so that it is never taken for a field code.
std::wstring QuoteExecArgument(std::wstring_view arg) {
    std::wstring out = L"\"";
    for (wchar_t c : arg) {
        if (c == L'"' || c == L'`' || c == L'$' || c == L'\\') out += L'\\';
        if (c == L'%') out += L'%';
        out += c;
    }
    out += L'"';
    return out;
}

// The shortcut file's name without its last extension (the whole name when that is empty).
std::wstring ShortcutName(const std::wstring& szLinkPath) {
    const auto slash = szLinkPath.find_last_of(L"\\/");
    const std::wstring file = slash == std::wstring::npos ? szLinkPath : szLinkPath.substr(slash + 1);
    const auto dot = file.find_last_of(L'.');
    return dot == std::wstring::npos || dot == 0 ? file : file.substr(0, dot);
}

std::string DesktopEntryText(const std::wstring& szLinkPath, const ShortcutInfo& shortcut) {
    std::string text = "[Desktop Entry]\n";
    text += shortcut.bUrl ? "Type=Link\n" : "Type=Application\n";
    text += "Name=" + EscapeValue(ShortcutName(szLinkPath)) + "\n";
    if (!shortcut.szDescription.empty()) text += "Comment=" + EscapeValue(shortcut.szDescription) + "\n";
    if (shortcut.bUrl) {
        text += "URL=" + EscapeValue(shortcut.szTarget) + "\n";
    } else {
        text += "Exec=" + EscapeValue(QuoteExecArgument(FromNativePath(ToNativePath(shortcut.szTarget)))) + "\n";
    }
    return text;
}

// Anything at the path, a dangling link included.
bool EntryExistsAt(const std::wstring& szPath) {
    struct stat st;
    return ::lstat(ToNativePath(szPath).c_str(), &st) == 0;
}

}  // namespace

bool IsShortcutPath(const std::wstring& szLinkPath, bool /*bUrl*/) {
    static const std::wstring kExt = L".desktop";
    const auto slash = szLinkPath.find_last_of(L"\\/");
    const size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
    return szLinkPath.size() > nameStart + kExt.size() && szLinkPath.ends_with(kExt);
}

bool IsShortcutFile(const std::wstring& szLinkPath, bool bUrl) {
    if (!IsShortcutPath(szLinkPath, bUrl)) return false;
    struct stat st;
    if (::lstat(ToNativePath(szLinkPath).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    File file;
    if (file.Open(szLinkPath, File::Mode::Read) != 0) return false;
    char head[4096];
    const int64_t n = file.Read(head, sizeof head);
    if (n <= 0) return false;
    // The first line that is neither empty nor a comment opens the entry's group.
    std::string_view text(head, static_cast<size_t>(n));
    while (!text.empty()) {
        const auto eol = text.find('\n');
        const std::string_view line = text.substr(0, eol);
        if (!line.empty() && line[0] != '#') return line == "[Desktop Entry]";
        if (eol == std::string_view::npos) break;
        text.remove_prefix(eol + 1);
    }
    return false;
}

int32_t SaveShortcut(const std::wstring& szLinkPath, const ShortcutInfo& shortcut) {
    if (szLinkPath.empty() || !IsShortcutPath(szLinkPath, shortcut.bUrl)) return static_cast<int32_t>(0x80070057u);  // E_INVALIDARG
    if (EntryExistsAt(szLinkPath) && !IsShortcutFile(szLinkPath, shortcut.bUrl))
        return static_cast<int32_t>(0x80070050u);  // a file that is not a shortcut: never replaced
    const std::string text = DesktopEntryText(szLinkPath, shortcut);
    const uint32_t err = WriteFileAtomically(szLinkPath, std::as_bytes(std::span(text.data(), text.size())));
    if (err == 0) return 0;
    return static_cast<int32_t>(0x80070000u | (err & 0xFFFFu));
}

}  // namespace platform
