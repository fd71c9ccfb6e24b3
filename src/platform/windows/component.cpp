#include "platform/component.h"

#include <windows.h>

#include "platform/strings.h"
#include "platform/windows/win_util.h"

namespace platform {

ComponentCall CallComponentEntry(const std::wstring& szPath, ComponentStep step) {
    ComponentCall call;
    // The altered search path: libraries the component needs are looked for in its own folder.
    HMODULE lib = ::LoadLibraryExW(win::NativePath(szPath).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (lib == nullptr) return call;
    call.bLoaded = true;
    using Entry = HRESULT(STDAPICALLTYPE*)();
    const char* name = step == ComponentStep::Register ? "DllRegisterServer" : "DllUnregisterServer";
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(lib, name)));
    if (entry != nullptr) {
        call.bCalled = true;
        call.hr = static_cast<int32_t>(entry());
    }
    ::FreeLibrary(lib);
    return call;
}

bool IsSelfRegisteringExt(const std::wstring& szExt, ComponentStep step) {
    if (EqualsNoCase(szExt, L".dll") || EqualsNoCase(szExt, L".ocx")) return true;
    return step == ComponentStep::Register && EqualsNoCase(szExt, L".ax");
}

}  // namespace platform
