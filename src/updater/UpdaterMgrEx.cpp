#include "updater/UpdaterMgrEx.h"

#include <cwctype>

#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/strings.h"

namespace UpDater {

long long ParseSignedDecimal(const std::wstring& szText) {
    size_t i = 0;
    while (i < szText.size() && std::iswspace(static_cast<wint_t>(szText[i]))) ++i;
    bool negative = false;
    if (i < szText.size() && (szText[i] == L'+' || szText[i] == L'-')) negative = szText[i++] == L'-';
    long long value = 0;
    for (; i < szText.size() && szText[i] >= L'0' && szText[i] <= L'9'; ++i) {
        if (value > (1LL << 40)) break;  // far beyond any window id; stop before overflow
        value = value * 10 + (szText[i] - L'0');
    }
    return negative ? -value : value;
}

std::wstring CUpdaterMgrEx::GetExecutePath() {
    if (m_strExecuteFile.empty()) return {};
    m_strExecuteFile = platform::TrimLeft(m_strExecuteFile, L". \\");
    if (m_strExecutePath.empty()) m_strExecutePath = platform::JoinPath(m_strInstallPath, m_strExecuteFile);
    return m_strExecutePath;
}

platform::WindowHandle CUpdaterMgrEx::GetParentWnd() {
    if (m_hParentWnd != 0) return m_hParentWnd;
    if (!m_strParentWnd.empty() && !platform::EqualsNoCase(m_strParentWnd, L"NULL")) {
        m_hParentWnd = static_cast<platform::WindowHandle>(ParseSignedDecimal(m_strParentWnd));
        if (!platform::IsWindowHandle(m_hParentWnd)) {
            platform::OutputDebug(platform::FormatW(L"[VUSVC] caller window [%s] is not a window: nobody to notify\n", m_strParentWnd));
            m_hParentWnd = 0;
        }
    }
    return m_hParentWnd;
}

}  // namespace UpDater
