#include "ui/OrvoUpdaterInterface.h"

namespace OrvoUi {

// Progress reports do not pause the worker: the skin shows the latest state of each bar (calls
// still waiting in the queue are replaced by newer ones), so the display never holds up the
// update.
template <class F>
void COrvoUpdaterInterface::Forward(F f) {
    if (!m_pDlg) return;
    std::lock_guard<std::mutex> guard(m_pDlg->cs);
    if (m_pDlg->pDlg != nullptr && m_pDlg->pDlg->IsWindowAlive()) f(*m_pDlg->pDlg);
}

void COrvoUpdaterInterface::SetInstallProgressMax(const wchar_t* szText, int nMax) {
    Forward([&](COrvoUpdaterServiceDlg& d) { d.SetInstallMax(szText, nMax); });
}

void COrvoUpdaterInterface::SetStatesProgressMax(const wchar_t* szText, int nMax) {
    Forward([&](COrvoUpdaterServiceDlg& d) { d.SetStatesMax(szText, nMax); });
}

void COrvoUpdaterInterface::SetInstallProgress(const wchar_t* szText, int nPos) {
    Forward([&](COrvoUpdaterServiceDlg& d) { d.SetInstallPos(szText, nPos); });
}

void COrvoUpdaterInterface::SetStatesProgress(const wchar_t* szText, int nPos) {
    Forward([&](COrvoUpdaterServiceDlg& d) { d.SetStatesPos(szText, nPos); });
}

// The finished bars stay on screen for a while, but that is the window's affair: the worker
// ends, and the target starts, at once.
void COrvoUpdaterInterface::UpdateComplete() {
    Forward([](COrvoUpdaterServiceDlg& d) { d.OnUpdateComplete(); });
}

void COrvoUpdaterInterface::UpdateError(const wchar_t* szText) {
    Forward([&](COrvoUpdaterServiceDlg& d) { d.OnUpdateError(szText); });
}

}  // namespace OrvoUi
