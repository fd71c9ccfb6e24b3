// The update-manager singleton: the manager plus the settings taken from the command line.
#pragma once

#include <string>

#include "platform/window.h"
#include "updater/Mgr.h"
#include "updater/SingletonEx.h"

namespace UpDater {

class CUpdaterMgrEx : public CMgr, public CSingletonEx<CUpdaterMgrEx> {
public:
    CUpdaterMgrEx() = default;
    ~CUpdaterMgrEx() override = default;

    // Full path of the target below the installed folder; empty when no target was named.
    // Computed once and then kept.
    std::wstring GetExecutePath();
    // The caller's window, or 0 when none was named, it is "NULL" or it does not exist.
    platform::WindowHandle GetParentWnd();
    void SetExecuteFile(const wchar_t* szFile) { m_strExecuteFile = szFile != nullptr ? szFile : L""; }
    void SetParentWnd(const wchar_t* szWnd) { m_strParentWnd = szWnd != nullptr ? szWnd : L""; }

    int m_bExecuteApp = 0;
    std::wstring m_strExecutePath;
    std::wstring m_strXmlUrl;
    std::wstring m_strExecuteFile;
    std::wstring m_strExecuteParam;
    std::wstring m_strParentWnd;
    platform::WindowHandle m_hParentWnd = 0;
};

// "123", "  -5x" -> -5, "abc" -> 0: leading white space, optional sign, digits.
long long ParseSignedDecimal(const std::wstring& szText);

}  // namespace UpDater
