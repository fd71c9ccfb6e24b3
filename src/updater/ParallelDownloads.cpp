#include "updater/ParallelDownloads.h"

#include <algorithm>
#include <cstdlib>

#include <chrono>

#include "http/HttpFileFetch.h"
#include "http/HttpServerClient.h"
#include "platform/fs.h"
#include "platform/inet.h"
#include "platform/strings.h"

#ifndef ORVO_PARALLEL_DOWNLOADS_DEFAULT
#define ORVO_PARALLEL_DOWNLOADS_DEFAULT 4
#endif

namespace UpDater {

namespace {

long EnvNumber(const char* szName, long nDefault, long nMin, long nMax) {
    const char* v = std::getenv(szName);
    if (v == nullptr || *v == '\0') return nDefault;
    char* end = nullptr;
    const long x = std::strtol(v, &end, 10);
    return *end == '\0' && x >= nMin && x <= nMax ? x : nDefault;
}

}  // namespace

int FetchPackage(const std::wstring& szUrl, const std::wstring& szLocalPath, uint64_t nMaxBytes,
                 const Kaver::CHttpServerClient::ByteProgress& progress) {
    using Kaver::CHttpFileFetch;
    using Kaver::CHttpServerClient;
    int result = CHttpFileFetch::GetFileResuming(szUrl, szLocalPath, nMaxBytes, progress);
    if (result != CHttpServerClient::kDownloadFailed || !platform::PathExists(CHttpFileFetch::PartPath(szLocalPath)))
        return result;
    const auto pause = std::chrono::milliseconds(EnvNumber("ORVO_NET_RETRYMS", 1000, 0, 60000));
    const auto until = std::chrono::steady_clock::now() + pause;
    while (std::chrono::steady_clock::now() < until) {
        if (platform::inet::TransfersCancelled()) return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return CHttpFileFetch::GetFileResuming(szUrl, szLocalPath, nMaxBytes, progress);
}

int MaxParallelDownloads() {
    const long n = EnvNumber("ORVO_PARALLEL_DOWNLOADS", ORVO_PARALLEL_DOWNLOADS_DEFAULT, 1, 16);
    return static_cast<int>(std::clamp(n, 1L, 16L));
}

CParallelDownloads::CParallelDownloads(int nMax, Fetch fetch) : m_nMax(std::max(1, nMax)), m_fetch(std::move(fetch)) {}

CParallelDownloads::~CParallelDownloads() { Finish(); }

bool CParallelDownloads::Start(const std::wstring& szUrl, const std::wstring& szLocalPath, uint64_t nMaxBytes,
                               std::function<void()> after) {
    std::unique_lock lock(m_lock);
    // Two items of one plan may name the same download file; they take turns, in plan order.
    auto samePath = [&] {
        return std::any_of(m_running.begin(), m_running.end(),
                           [&](const std::wstring& p) { return platform::EqualsNoCase(p, szLocalPath); });
    };
    // One download waits beside the running ones, so that a slot that frees takes it at once
    // instead of waiting for this thread to come round.
    m_changed.wait(lock, [&] { return m_bFailed || (m_nBusy < m_nMax + 1 && !samePath()); });
    if (m_bFailed) return false;
    m_running.push_back(szLocalPath);
    ++m_nBusy;
    m_waiting.push_back({szUrl, szLocalPath, nMaxBytes, std::move(after)});
    // A thread per slot, made when first needed; the after-work has one of its own.
    if (m_threads.empty()) m_threads.emplace_back([this] { AfterWork(); });
    if (static_cast<int>(m_threads.size()) - 1 < std::min(m_nBusy, m_nMax)) m_threads.emplace_back([this] { Transfers(); });
    m_changed.notify_all();
    return true;
}

void CParallelDownloads::Transfers() {
    std::unique_lock lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [&] { return m_bStopping || !m_waiting.empty(); });
        if (m_waiting.empty()) return;
        Job job = std::move(m_waiting.front());
        m_waiting.erase(m_waiting.begin());
        bool ok = false;
        if (!m_bFailed) {  // after a failure nothing new goes out
            lock.unlock();
            ok = m_fetch(job.url, job.path, job.nMaxBytes);
            lock.lock();
        }
        --m_nBusy;
        if (!ok) m_bFailed = true;  // also for a job that never ran: the pool has failed anyway
        if (ok && job.after && !m_bFailed) m_afterQueue.push_back(std::move(job));
        else m_running.erase(std::find(m_running.begin(), m_running.end(), job.path));
        m_changed.notify_all();
    }
}

void CParallelDownloads::AfterWork() {
    std::unique_lock lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [&] { return m_bStopping || !m_afterQueue.empty(); });
        if (m_afterQueue.empty()) return;
        Job job = std::move(m_afterQueue.front());
        m_afterQueue.erase(m_afterQueue.begin());
        if (!m_bFailed) {
            m_bAfterRunning = true;
            lock.unlock();
            job.after();
            lock.lock();
            m_bAfterRunning = false;
        }
        m_running.erase(std::find(m_running.begin(), m_running.end(), job.path));
        m_changed.notify_all();
    }
}

bool CParallelDownloads::Finish() {
    {
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [&] { return m_nBusy == 0 && m_afterQueue.empty() && !m_bAfterRunning; });
        m_bStopping = true;
        m_changed.notify_all();
    }
    for (auto& t : m_threads)
        if (t.joinable()) t.join();
    m_threads.clear();
    std::lock_guard lock(m_lock);
    m_bStopping = false;
    return !m_bFailed;
}

}  // namespace UpDater
