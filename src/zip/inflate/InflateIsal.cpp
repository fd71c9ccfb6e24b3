#include "zip/ZipInflate.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>

struct CZipInflate::State {
    inflate_state stream{};
};

CZipInflate::CZipInflate() : m_pState(std::make_unique<State>()) {}

CZipInflate::~CZipInflate() { End(); }

int CZipInflate::Begin() {
    // Raw deflate with the default 32 KiB window; the state holds no heap memory.
    isal_inflate_init(&m_pState->stream);
    m_pState->stream.crc_flag = ISAL_DEFLATE;
    SetInput(nullptr, 0);
    m_bActive = true;
    return ok;
}

void CZipInflate::End() { m_bActive = false; }

void CZipInflate::SetInput(const void* pData, size_t uSize) {
    m_pState->stream.next_in = static_cast<uint8_t*>(const_cast<void*>(pData));
    m_pState->stream.avail_in = static_cast<uint32_t>(uSize);
}

size_t CZipInflate::GetInputLeft() const { return m_pState->stream.avail_in; }

int CZipInflate::Inflate(void* pOut, size_t uSize, size_t& uProduced) {
    inflate_state& st = m_pState->stream;
    if (st.block_state == ISAL_BLOCK_FINISH) return streamEnd;
    const uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(uSize, 1u << 30));
    const uint32_t inBefore = st.avail_in;
    st.next_out = static_cast<uint8_t*>(pOut);
    st.avail_out = chunk;
    const int err = isal_inflate(&st);
    const uint32_t made = chunk - st.avail_out;
    uProduced += made;
    if (err < 0) return dataError;
    if (err == ISAL_NEED_DICT) return dataError;  // raw streams never ask for one
    if (st.block_state == ISAL_BLOCK_FINISH) return streamEnd;
    if (made == 0 && st.avail_in == inBefore) return bufError;
    return ok;
}

uint32_t CZipInflate::Crc32(uint32_t uCrc, const void* pData, size_t uSize) {
    const auto* p = static_cast<const unsigned char*>(pData);
    while (uSize > 0) {
        const uint64_t n = std::min<size_t>(uSize, 1u << 30);
        uCrc = crc32_gzip_refl(uCrc, p, n);
        p += n;
        uSize -= n;
    }
    return uCrc;
}

const char* CZipInflate::GetBackendName() { return "isa-l"; }
