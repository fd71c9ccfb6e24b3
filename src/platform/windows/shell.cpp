#include "platform/shell.h"

#include <windows.h>
#include <intshcut.h>
#include <objbase.h>
#include <shlobj.h>

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

int32_t SaveShortcut(const std::wstring& szLinkPath, const ShortcutInfo& info) {
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
