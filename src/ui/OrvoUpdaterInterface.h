// The progress adapter the dialog hands to the manager: each report goes to the dialog while
// its window exists; otherwise (and afterwards) only the pause runs.
#pragma once

#include <memory>

#include "ui/OrvoUpdaterServiceDlg.h"
#include "updater/MgrInterface.h"

namespace OrvoUi {

class COrvoUpdaterInterface : public UpDater::CMgrInterface {
public:
    explicit COrvoUpdaterInterface(std::shared_ptr<DialogLink> link) : m_pDlg(std::move(link)) {}

    void SetInstallProgressMax(const wchar_t* szText, int nMax) override;
    void SetStatesProgressMax(const wchar_t* szText, int nMax) override;
    void SetInstallProgress(const wchar_t* szText, int nPos) override;
    void SetStatesProgress(const wchar_t* szText, int nPos) override;
    void UpdateComplete() override;
    void UpdateError(const wchar_t* szText) override;

private:
    template <class F>
    void Forward(F f);
    std::shared_ptr<DialogLink> m_pDlg;
};

}  // namespace OrvoUi
