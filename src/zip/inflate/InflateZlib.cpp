#include "zip/ZipInflate.h"

#include <zlib.h>

#include <algorithm>

struct CZipInflate::State {
    z_stream stream{};
};

CZipInflate::CZipInflate() : m_pState(std::make_unique<State>()) {}

CZipInflate::~CZipInflate() { End(); }

int CZipInflate::Begin() {
    End();
    m_pState->stream = z_stream{};
    const int err = inflateInit2(&m_pState->stream, -MAX_WBITS);
    SetInput(nullptr, 0);
    m_bActive = err == Z_OK;
    return err;
}

void CZipInflate::End() {
    if (m_bActive) inflateEnd(&m_pState->stream);
    m_bActive = false;
}

void CZipInflate::SetInput(const void* pData, size_t uSize) {
    m_pState->stream.next_in = static_cast<Bytef*>(const_cast<void*>(pData));
    m_pState->stream.avail_in = static_cast<uInt>(uSize);
}

size_t CZipInflate::GetInputLeft() const { return m_pState->stream.avail_in; }

int CZipInflate::Inflate(void* pOut, size_t uSize, size_t& uProduced) {
    z_stream& zs = m_pState->stream;
    const uInt chunk = static_cast<uInt>(std::min<size_t>(uSize, 1u << 30));
    zs.next_out = static_cast<Bytef*>(pOut);
    zs.avail_out = chunk;
    const int err = inflate(&zs, Z_SYNC_FLUSH);
    uProduced += chunk - zs.avail_out;
    return err;
}

uint32_t CZipInflate::Crc32(uint32_t uCrc, const void* pData, size_t uSize) {
    const auto* p = static_cast<const Bytef*>(pData);
    while (uSize > 0) {
        const uInt n = static_cast<uInt>(std::min<size_t>(uSize, 1u << 30));
        uCrc = static_cast<uint32_t>(crc32(uCrc, p, n));
        p += n;
        uSize -= n;
    }
    return uCrc;
}

const char* CZipInflate::GetBackendName() { return "zlib"; }
