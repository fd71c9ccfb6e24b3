#include "platform/shell.h"

#include <windows.h>
#include <intshcut.h>
#include <objbase.h>
#include <shlobj.h>

#include <string_view>

#include "platform/fs.h"
#include "platform/windows/win_util.h"

namespace platform {

namespace {

using win::ComPtr;

HRESULT Save(IUnknown* object, const std::wstring& szPath) {
    ComPtr<IPersistFile> file;
    HRESULT hr = object->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (FAILED(hr)) return hr;
    return file->Save(szPath.c_str(), TRUE);
}

}  // namespace

bool IsShortcutPath(const std::wstring& szLinkPath, bool bUrl) {
    const std::wstring ext = bUrl ? L".url" : L".lnk";
    const auto slash = szLinkPath.find_last_of(L"\\/");
    const size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
    return szLinkPath.size() > nameStart + ext.size() &&
           ::CompareStringOrdinal(szLinkPath.c_str() + szLinkPath.size() - ext.size(), static_cast<int>(ext.size()), ext.c_str(),
                                  static_cast<int>(ext.size()), TRUE) == CSTR_EQUAL;
}

bool IsShortcutFile(const std::wstring& szLinkPath, bool bUrl) {
    if (!IsShortcutPath(szLinkPath, bUrl)) return false;
    const std::wstring path = win::NativePath(szLinkPath);
    const DWORD attrs = ::GetFileAttributesW(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) return false;
    File file;
    if (file.Open(szLinkPath, File::Mode::Read) != 0) return false;
    char head[4096];
    const int64_t n = file.Read(head, sizeof head);
    if (n <= 0) return false;
    const std::string_view text(head, static_cast<size_t>(n));
    // A shell link starts with its header size (0x4C) and the link class; an internet shortcut
    // is a text file with its section.
    if (!bUrl) return text.size() >= 4 && text.substr(0, 4) == std::string_view("\x4C\0\0\0", 4);
    return text.find("[InternetShortcut]") != std::string_view::npos;
}

int32_t SaveShortcut(const std::wstring& szLinkPath, const ShortcutInfo& info) {
    if (!IsShortcutPath(szLinkPath, info.bUrl)) return E_INVALIDARG;
    if (PathExists(szLinkPath) && !IsShortcutFile(szLinkPath, info.bUrl)) return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
    const std::wstring path = win::NativePath(szLinkPath);
    if (info.bUrl) {
        ComPtr<IUniformResourceLocatorW> url;
        HRESULT hr = ::CoCreateInstance(CLSID_InternetShortcut, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IUniformResourceLocatorW, reinterpret_cast<void**>(&url));
        if (FAILED(hr)) return hr;
        if (FAILED(hr = url->SetURL(info.szTarget.c_str(), 0))) return hr;
        return Save(url.p, path);
    }
    ComPtr<IShellLinkW> link;
    HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    reinterpret_cast<void**>(&link));
    if (FAILED(hr)) return hr;
    if (FAILED(hr = link->SetPath(win::NativePath(info.szTarget).c_str()))) return hr;
    if (FAILED(hr = link->SetDescription(info.szDescription.c_str()))) return hr;
    return Save(link.p, path);
}

}  // namespace platform
