// The loop every list stage runs: under the builder's lock, item by item, until cancelled.
#pragma once

#include <mutex>

#include "updater/Mgr.h"

namespace UpDater {

template <class List, class Text, class Work>
int CMgr::RunStageLoop(List& list, Text itemText, Work work, bool* pbFailed) {
    const int n = static_cast<int>(list.size());
    int i = 0;
    std::lock_guard<std::recursive_mutex> lock(m_cs);
    for (auto& item : list) {
        if (m_bCancel != 0) break;
        ++i;
        const std::wstring text = itemText(item, i, n);
        if (!text.empty()) ReportStates(text, i);
        if (!work(item)) {
            if (pbFailed != nullptr) *pbFailed = true;
            break;
        }
    }
    return i;
}

}  // namespace UpDater
