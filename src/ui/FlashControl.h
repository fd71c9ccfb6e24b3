// The skin control: the operations the dialog uses on a skin view, with the call request text
// decoded here so that the view only ever sees a function name and its argument strings.
#pragma once

#include <functional>
#include <string>

#include "platform/gui.h"

namespace OrvoUi {

class CFlash_main {
public:
    void Attach(platform::ISkinView* pView) { m_pView = pView; }
    bool HasWindow() const { return m_pView != nullptr && m_pView->HasWindow(); }

    bool SetWMode(const std::wstring& szMode, platform::DispatchError* pError);
    bool SetBackgroundColor(int32_t nColor, platform::DispatchError* pError);
    bool LoadMovie(int nLayer, const std::wstring& szPath, platform::DispatchError* pError);
    bool LoadLayout(const platform::SkinLayout& layout, platform::DispatchError* pError);
    // The outcome of the load LoadMovie started (see platform::ISkinView::WhenLoaded).
    void WhenLoaded(std::function<void(bool, const platform::DispatchError&)> done);
    // Calls the function the request names. A request that is not well formed fails at once
    // (false, *pError); the skin's own failure arrives later through done.
    bool CallFunction(const std::wstring& szRequest, std::function<void(bool, const platform::DispatchError&)> done,
                      platform::DispatchError* pError);
    void MoveWindow(int x, int y, int nWidth, int nHeight);
    void ShowWindow(bool bShow);

private:
    platform::ISkinView* m_pView = nullptr;
};

}  // namespace OrvoUi
