// The download stage's transfers: up to a fixed number at once, started in plan order by the
// stage loop (which reports each item as it starts, as a sequential stage would). After a
// failure no further download starts; those already running are waited for. Work that follows
// a finished download (unpacking it while others still download) runs outside the transfer
// slots, one at a time, and keeps the download's file from being written again meanwhile.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http/HttpServerClient.h"

namespace UpDater {

// Downloads one package, resuming what an earlier attempt left; a transfer that breaks after
// some bytes arrived is continued once more after a short pause (ORVO_NET_RETRYMS, default
// 1000 ms), unless transfers were cancelled. The result codes of GetFileFromURL.
// A package bigger than nMaxBytes is cut off there and fails.
int FetchPackage(const std::wstring& szUrl, const std::wstring& szLocalPath, uint64_t nMaxBytes,
                 const Kaver::CHttpServerClient::ByteProgress& progress = {});

// The number of downloads run at once: the build setting, or ORVO_PARALLEL_DOWNLOADS (1-16).
int MaxParallelDownloads();

class CParallelDownloads {
public:
    // fetch(url, local path, most bytes) → true on success; runs on the pool's threads.
    using Fetch = std::function<bool(const std::wstring&, const std::wstring&, uint64_t)>;
    CParallelDownloads(int nMax, Fetch fetch);
    ~CParallelDownloads();
    CParallelDownloads(const CParallelDownloads&) = delete;
    CParallelDownloads& operator=(const CParallelDownloads&) = delete;

    // Waits until at most one download waits for a slot (and for a running download to the same
    // local path), then hands the download to the pool, which starts it as soon as a slot is
    // free; false, starting nothing, once any download has failed. after runs once the
    // download succeeded and its slot is free again, unless a download has failed by then.
    bool Start(const std::wstring& szUrl, const std::wstring& szLocalPath, uint64_t nMaxBytes = UINT64_MAX,
               std::function<void()> after = {});
    // Waits for every started download and the work after it; true when none failed.
    bool Finish();

private:
    struct Job {
        std::wstring url, path;
        uint64_t nMaxBytes = 0;
        std::function<void()> after;
    };
    // The threads live as long as the pool: a thread per download would cost more than a
    // small download does.
    void Transfers();
    void AfterWork();

    int m_nMax;
    Fetch m_fetch;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Job> m_waiting;           // started, not yet taken by a thread
    std::vector<Job> m_afterQueue;        // finished downloads whose after-work is due
    int m_nBusy = 0;                      // downloads running or waiting for a slot
    bool m_bAfterRunning = false;
    std::vector<std::wstring> m_running;  // local paths in flight or still being worked on
    bool m_bFailed = false;
    bool m_bStopping = false;
    std::vector<std::thread> m_threads;
};

}  // namespace UpDater
