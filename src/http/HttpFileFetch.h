// Downloads that remember what they fetched: a package download that breaks keeps what arrived
// and asks only for the rest next time, and a document fetched before is asked for again only
// if it changed. Both speak in the result codes of CHttpServerClient::GetFileFromURL.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "http/HttpServerClient.h"

namespace Kaver {

// What the server said identifies one version of a resource.
struct CHttpValidator {
    std::string strETag;  // as sent, quotes (and a weak "W/" prefix) included
    std::string strLastModified;
    int64_t nLength = -1;  // the whole body's announced length, -1 when none
    bool Empty() const { return strETag.empty() && strLastModified.empty(); }
    // A strong validator and a known length: a range of this version can be asked for.
    bool AllowsRange() const;
};

// A validator stored in a small file of its own beside what it describes, tied to the address
// it came from. Written to a fresh file and renamed into place; never read through a link.
namespace ValidatorFile {
bool Store(const std::wstring& szPath, const std::wstring& szUrl, const CHttpValidator& validator);
// Empty when missing, unreadable, malformed or stored for another address.
std::optional<CHttpValidator> Load(const std::wstring& szPath, const std::wstring& szUrl);
}  // namespace ValidatorFile

class CHttpFileFetch {
public:
    static constexpr int kNotModified = 2;  // the kept copy is current; nothing was written

    // Downloads into szLocalPath through "<path>.part". When the transfer breaks, the part and
    // its validator ("<path>.part.meta") stay; the next call asks for the rest with Range and
    // If-Range and checks that the whole has the announced length. A server that answers the
    // range with the whole body gets a clean full download. 1 on success, 0 or -1 as
    // GetFileFromURL.
    // A body whose whole would exceed nMaxBytes is cut off there and fails, its part discarded.
    // progress hears of the bytes of the whole (a resumed part's included) as they arrive.
    static int GetFileResuming(const std::wstring& szUrl, const std::wstring& szLocalPath,
                               uint64_t nMaxBytes = UINT64_MAX, const CHttpServerClient::ByteProgress& progress = {});

    // Downloads into szLocalPath, asking with If-None-Match/If-Modified-Since when a validator
    // is given. kNotModified when the server answers 304 (szLocalPath untouched); 1 with
    // *pFresh set (Empty when the server sent none) when a body was downloaded.
    static int GetFileIfChanged(const std::wstring& szUrl, const std::wstring& szLocalPath, const CHttpValidator& kept,
                                CHttpValidator* pFresh, uint64_t nMaxBytes = UINT64_MAX);

    static std::wstring PartPath(const std::wstring& szLocalPath) { return szLocalPath + L".part"; }
    static std::wstring PartMetaPath(const std::wstring& szLocalPath) { return szLocalPath + L".part.meta"; }
    // Removes the parts (and validators) in szFolder of downloads other than those of the named
    // files that were last written before olderThan: a part that no later run asks for would
    // otherwise stay for good. Only for a folder whose downloads are under a lock the caller holds.
    static void RemoveStaleParts(const std::wstring& szFolder, const std::set<std::wstring>& keepNames,
                                 std::chrono::system_clock::time_point olderThan);
};

}  // namespace Kaver
