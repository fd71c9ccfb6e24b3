#include "ui/FlashControl.h"

#include "ui/InvokeRequest.h"

namespace OrvoUi {

namespace {

constexpr int32_t kInvalidArg = static_cast<int32_t>(0x80070057);

bool NoWindow(platform::DispatchError* pError) {
    if (pError != nullptr) *pError = {L"the skin control has no window", static_cast<int32_t>(0x80004005), 0};
    return false;
}

}  // namespace

bool CFlash_main::SetWMode(const std::wstring& szMode, platform::DispatchError* pError) {
    return HasWindow() ? m_pView->SetWMode(szMode, pError) : NoWindow(pError);
}

bool CFlash_main::SetBackgroundColor(int32_t nColor, platform::DispatchError* pError) {
    return HasWindow() ? m_pView->SetBackgroundColor(nColor, pError) : NoWindow(pError);
}

bool CFlash_main::LoadMovie(int nLayer, const std::wstring& szPath, platform::DispatchError* pError) {
    return HasWindow() ? m_pView->LoadMovie(nLayer, szPath, pError) : NoWindow(pError);
}

bool CFlash_main::LoadLayout(const platform::SkinLayout& layout, platform::DispatchError* pError) {
    return HasWindow() ? m_pView->LoadLayout(layout, pError) : NoWindow(pError);
}

void CFlash_main::WhenLoaded(std::function<void(bool, const platform::DispatchError&)> done) {
    if (HasWindow()) {
        m_pView->WhenLoaded(std::move(done));
        return;
    }
    platform::DispatchError err;
    NoWindow(&err);
    if (done) done(false, err);
}

bool CFlash_main::CallFunction(const std::wstring& szRequest, std::function<void(bool, const platform::DispatchError&)> done,
                               platform::DispatchError* pError) {
    if (!HasWindow()) return NoWindow(pError);
    auto request = ParseInvokeRequest(szRequest);
    if (!request) {
        if (pError != nullptr) *pError = {L"the call request is not well formed", kInvalidArg, 0};
        return false;
    }
    m_pView->CallFunction(request->strName, request->args, std::move(done));
    return true;
}

void CFlash_main::MoveWindow(int x, int y, int nWidth, int nHeight) {
    if (HasWindow()) m_pView->Move(x, y, nWidth, nHeight);
}

void CFlash_main::ShowWindow(bool bShow) {
    if (HasWindow()) m_pView->Show(bShow);
}

}  // namespace OrvoUi
