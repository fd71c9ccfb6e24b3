// The six progress reports of an update run. A run ends with exactly one UpdateComplete or
// UpdateError. Reports arrive on the update's worker thread.
#pragma once

#include <string>

namespace UpDater {

class CMgrInterface {
public:
    virtual ~CMgrInterface() = default;
    // The overall bar: maximum and label.
    virtual void SetInstallProgressMax(const std::wstring& szText, int nMax) = 0;
    // The detail bar: maximum and label.
    virtual void SetStatesProgressMax(const std::wstring& szText, int nMax) = 0;
    virtual void SetInstallProgress(const std::wstring& szText, int nPos) = 0;
    virtual void SetStatesProgress(const std::wstring& szText, int nPos) = 0;
    virtual void UpdateComplete() = 0;
    // szText names the failed stage.
    virtual void UpdateError(const std::wstring& szText) = 0;
};

}  // namespace UpDater
