// What a progress interface may also take: the bytes of the download that is running. An
// interface that has no use for them simply does not derive from this.
#pragma once

#include <cstdint>

#include "http/HttpServerClient.h"
#include "updater/MgrInterface.h"

namespace UpDater {

class CMgrByteProgress {
public:
    virtual ~CMgrByteProgress() = default;
    // nTotal is 0 when the server announced no length. Called on the worker thread.
    virtual void SetItemBytes(uint64_t nDone, uint64_t nTotal) = 0;
};

// The byte reports of a download, for the interface when it takes them (else none).
inline Kaver::CHttpServerClient::ByteProgress ByteProgressFor(CMgrInterface* pInterface) {
    auto* bytes = dynamic_cast<CMgrByteProgress*>(pInterface);
    if (bytes == nullptr) return {};
    return [bytes](uint64_t nDone, uint64_t nTotal) { bytes->SetItemBytes(nDone, nTotal); };
}

}  // namespace UpDater
