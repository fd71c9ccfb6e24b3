#include "ui/ProgressRelay.h"

#include <algorithm>
#include <utility>

namespace OrvoUi {

void CProgressRelay::Attach(std::unique_ptr<UpDater::CMgrInterface> pSink) {
    std::lock_guard<std::mutex> guard(m_cs);
    if (m_pSink || !pSink) return;
    m_pSink = std::move(pSink);
    m_pBytes.store(dynamic_cast<UpDater::CMgrByteProgress*>(m_pSink.get()), std::memory_order_release);
    for (const Report& r : m_held) Deliver(r.kind, r.text.c_str(), r.n);
    m_held.clear();
}

void CProgressRelay::SetInstallProgressMax(const wchar_t* szText, int nMax) { Pass(Kind::InstallMax, szText, nMax); }
void CProgressRelay::SetStatesProgressMax(const wchar_t* szText, int nMax) { Pass(Kind::StatesMax, szText, nMax); }
void CProgressRelay::SetInstallProgress(const wchar_t* szText, int nPos) { Pass(Kind::InstallPos, szText, nPos); }
void CProgressRelay::SetStatesProgress(const wchar_t* szText, int nPos) { Pass(Kind::StatesPos, szText, nPos); }
void CProgressRelay::UpdateComplete() { Pass(Kind::Complete, nullptr, 0); }
void CProgressRelay::UpdateError(const wchar_t* szText) { Pass(Kind::Error, szText, 0); }

void CProgressRelay::SetItemBytes(uint64_t nDone, uint64_t nTotal) {
    // Several downloads report their bytes many times a second: they need no order with the
    // other reports, so they do not take the lock.
    if (auto* bytes = m_pBytes.load(std::memory_order_acquire)) bytes->SetItemBytes(nDone, nTotal);
}

void CProgressRelay::Pass(Kind kind, const wchar_t* szText, int n) {
    if (szText == nullptr) szText = L"";
    std::lock_guard<std::mutex> guard(m_cs);
    if (m_pSink) Deliver(kind, szText, n);
    else Hold({kind, szText, n});
}

void CProgressRelay::Hold(Report report) {
    const bool progress = report.kind == Kind::InstallPos || report.kind == Kind::StatesPos;
    if (progress && !m_held.empty() && m_held.back().kind == report.kind) {
        m_held.back() = std::move(report);
        return;
    }
    const bool end = report.kind == Kind::Complete || report.kind == Kind::Error;
    if (!end && m_held.size() >= kMaxHeld) {
        const auto same = std::find_if(m_held.rbegin(), m_held.rend(), [&](const Report& r) { return r.kind == report.kind; });
        if (same != m_held.rend()) {
            *same = std::move(report);
            return;
        }
    }
    m_held.push_back(std::move(report));
}

void CProgressRelay::Deliver(Kind kind, const wchar_t* szText, int n) {
    switch (kind) {
        case Kind::InstallMax: m_pSink->SetInstallProgressMax(szText, n); break;
        case Kind::StatesMax: m_pSink->SetStatesProgressMax(szText, n); break;
        case Kind::InstallPos: m_pSink->SetInstallProgress(szText, n); break;
        case Kind::StatesPos: m_pSink->SetStatesProgress(szText, n); break;
        case Kind::Complete: m_pSink->UpdateComplete(); break;
        case Kind::Error: m_pSink->UpdateError(szText); break;
    }
}

}  // namespace OrvoUi
