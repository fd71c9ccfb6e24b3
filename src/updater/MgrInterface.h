// How the update manager reports its progress: an overall ("install") bar, a detail ("states")
// bar, and the end of the run. Reports arrive on the manager's worker thread; texts belong to
// the caller for the duration of the call.
#pragma once

namespace UpDater {

class CMgrInterface {
public:
    // The manager owns its interface and deletes it through this base.
    virtual ~CMgrInterface() = default;

    virtual void SetInstallProgressMax(const wchar_t* szText, int nMax) = 0;
    virtual void SetStatesProgressMax(const wchar_t* szText, int nMax) = 0;
    virtual void SetInstallProgress(const wchar_t* szText, int nPos) = 0;
    virtual void SetStatesProgress(const wchar_t* szText, int nPos) = 0;
    virtual void UpdateComplete() = 0;
    // szText names the stage that failed.
    virtual void UpdateError(const wchar_t* szText) = 0;
};

}  // namespace UpDater
