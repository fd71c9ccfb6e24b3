// The update's progress interface from the moment it starts until a front end is ready to show
// it: the window module takes a while to load and the window to be made, and the update does
// not wait for either. Reports that come before a front end is attached are held (a run of
// progress reports of the same kind as only the latest of them) and handed on in order when it
// is; from then on each report goes straight through.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "updater/MgrByteProgress.h"
#include "updater/MgrInterface.h"

namespace OrvoUi {

class CProgressRelay final : public UpDater::CMgrInterface, public UpDater::CMgrByteProgress {
public:
    // Beyond this many held reports, a report replaces the latest held one of its kind.
    static constexpr size_t kMaxHeld = 1024;

    // Hands on what was held, then every later report. Only the first front end is attached.
    void Attach(std::unique_ptr<UpDater::CMgrInterface> pSink);

    void SetInstallProgressMax(const wchar_t* szText, int nMax) override;
    void SetStatesProgressMax(const wchar_t* szText, int nMax) override;
    void SetInstallProgress(const wchar_t* szText, int nPos) override;
    void SetStatesProgress(const wchar_t* szText, int nPos) override;
    void UpdateComplete() override;
    void UpdateError(const wchar_t* szText) override;
    // The bytes of the running download matter only while they run: none are held.
    void SetItemBytes(uint64_t nDone, uint64_t nTotal) override;

private:
    enum class Kind { InstallMax, StatesMax, InstallPos, StatesPos, Complete, Error };
    struct Report {
        Kind kind;
        std::wstring text;
        int n = 0;
    };
    void Pass(Kind kind, const wchar_t* szText, int n);
    void Hold(Report report);
    void Deliver(Kind kind, const wchar_t* szText, int n);

    std::mutex m_cs;  // orders the reports with the attaching
    std::unique_ptr<UpDater::CMgrInterface> m_pSink;
    std::atomic<UpDater::CMgrByteProgress*> m_pBytes{nullptr};  // the sink, when it takes bytes
    std::deque<Report> m_held;
};

// The update as a front end takes it over: started, its reports waiting in pRelay (which the
// manager owns), or not started (nothing to update, or it could not be started).
struct StartedUpdate {
    CProgressRelay* pRelay = nullptr;
    bool bStartFailed = false;
};

}  // namespace OrvoUi
