// The update manager: runs a planned update on one supervisor thread through the fixed
// sequence of stages, reporting through the progress interface.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "manifest/VersionBuilder.h"
#include "updater/MgrInterface.h"
#include "worker/EventChecker.h"
#include "worker/EventWorker.h"

namespace UpDater {

class CMgr : public CVersionBuilder {
public:
    CMgr();
    ~CMgr() override;

    // Takes ownership of the interface; starts the supervisor thread and triggers the run.
    bool StartUp(CMgrInterface* pInterface);
    // The pipeline (on the supervisor thread).
    void ProcessUpdate();

    // Before the stages: what killed runs left in the working folder under this plan's names,
    // and the stale parts.
    void RemoveStagingLeftovers();
    // Removes the download parts of packages this plan does not name, untouched for
    // kStalePartAge. Only while holding the manifest's lock.
    void RemoveStaleParts();
    static constexpr std::chrono::hours kStalePartAge{24};
    // Stages, in pipeline order.
    bool DownloadUpdateFile();
    bool UnregisterComponents();
    bool UnzipDownloadFile();
    bool ExProcess();
    void FinishUpdate();

    // The steps of ExProcess, in order.
    bool InstallShortcuts();
    bool WriteRegistryValues();
    bool CleanupPrograms();
    bool RegisterComponents();
    bool AddFirewallExceptions();

    // Fetches the skin movie when the manifest's skin entry changed; sets m_strSkinPath when
    // the movie on disk has the announced size. On the main thread, before the run. The skin's
    // folder is chosen by SkinFolderFor.
    void SkinDownload();

    // The install stage's first step for the package of m_UpdateList[nIndex], taken as soon as
    // its download ended while others still download: the install stage then finds the file
    // unpacked and checked. A package that fails here is left to the install stage, which tries
    // again and reports the failure. On a download thread, one package at a time.
    void UnpackAhead(size_t nIndex, const UpdateItem& item);
    // Takes a checked new file made otherwise (from a delta) as the item's unpacked file.
    void KeepUnpackedAhead(size_t nIndex, const std::wstring& szStaged);
    // Deletes what was unpacked ahead and not installed (a failed or cancelled run).
    void DiscardUnpackedAhead();

    // Cancels a running update: stops at the next list item, empties the lists, stops the thread.
    void Cancel();

    class CMgrProcessWorker : public CEventWorker {
    public:
        CMgrProcessWorker();
        int Execute() override;
        CMgr* m_pMgr = nullptr;
    };

    std::unique_ptr<CMgrInterface> m_pInterface;
    CEventChecker m_EventChecker;
    CEventGroup m_EventGroup;
    CMgrProcessWorker m_ProcessWorker;
    // Written by the main thread, polled by the worker between list items.
    std::atomic<int> m_bCancel{0};
    std::wstring m_strSkinPath;
    // Set when an installed file could not be replaced; read after the run.
    std::atomic<int> m_bFileInUse{0};

private:
    // One pass over a work list under m_cs: stops when cancelled, reports each item; returns
    // how many items were started. The work returns false to end the loop early.
    template <class List, class Text, class Work>
    int RunStageLoop(List& list, Text itemText, Work work, bool* pbFailed);
    void ReportStatesMax(const std::wstring& szText, int nMax);
    void ReportStates(const std::wstring& szText, int nPos);
    bool RunComponentStep(bool bRegister);
    // Deletes the downloaded packages of the work list: a failed install leaves none behind.
    void DiscardPackages();

    // A package's file, unpacked beside the downloads and checked against the manifest.
    struct UnpackedFile {
        std::wstring unpacked;  // the name the package gave it, for the messages
        std::wstring staged;    // where it is
        bool modeRecorded = false;
    };
    // Unpacks and checks the item's file (the package stays); false with the stage's lines.
    bool UnpackPackage(const UpdateItem& item, UnpackedFile* pFile);
    // Keeps the item's unpacked file for the install stage (replacing an earlier one).
    void StoreUnpackedAhead(size_t nIndex, const UnpackedFile& file);
    std::mutex m_aheadLock;
    std::map<size_t, UnpackedFile> m_unpackedAhead;  // by position in m_UpdateList
};

}  // namespace UpDater
