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

bool CParallelDownloads::Start(const std::wstring& szUrl, const std::wstring& szLocalPath, uint64_t nMaxBytes) {
    std::unique_lock lock(m_lock);
    // Two items of one plan may name the same download file; they take turns, in plan order.
    auto samePath = [&] {
        return std::any_of(m_running.begin(), m_running.end(),
                           [&](const std::wstring& p) { return platform::EqualsNoCase(p, szLocalPath); });
    };
    m_changed.wait(lock, [&] { return m_bFailed || (static_cast<int>(m_running.size()) < m_nMax && !samePath()); });
    if (m_bFailed) return false;
    m_running.push_back(szLocalPath);
    m_threads.emplace_back([this, szUrl, szLocalPath, nMaxBytes] {
        const bool ok = m_fetch(szUrl, szLocalPath, nMaxBytes);
        std::lock_guard done(m_lock);
        m_running.erase(std::find(m_running.begin(), m_running.end(), szLocalPath));
        if (!ok) m_bFailed = true;
        m_changed.notify_all();
    });
    return true;
}

bool CParallelDownloads::Finish() {
    for (auto& t : m_threads)
        if (t.joinable()) t.join();
    m_threads.clear();
    std::lock_guard lock(m_lock);
    return !m_bFailed;
}

}  // namespace UpDater
