#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Raw deflate decoding and the CRC-32 of zip entries. The build picks the fastest library it
// has for both (a SIMD inflate where the platform offers one, zlib everywhere); results use
// zlib's codes so the reader maps them to causes one way whatever the backend.
class CZipInflate {
public:
    enum Result : int { ok = 0, streamEnd = 1, dataError = -3, memError = -4, bufError = -5 };

    CZipInflate();
    ~CZipInflate();
    CZipInflate(const CZipInflate&) = delete;
    CZipInflate& operator=(const CZipInflate&) = delete;

    // Starts a new raw deflate stream (no wrapper, 32 KiB window); any earlier one is dropped.
    int Begin();
    void End();
    bool IsActive() const { return m_bActive; }

    void SetInput(const void* pData, size_t uSize);
    size_t GetInputLeft() const;

    // Writes at most uSize bytes to pOut and adds what it wrote to uProduced. bufError means no
    // progress was possible (input exhausted, or nothing more fits).
    int Inflate(void* pOut, size_t uSize, size_t& uProduced);

    static uint32_t Crc32(uint32_t uCrc, const void* pData, size_t uSize);
    // Which library decodes ("zlib", "isa-l"), for diagnostics and the benchmarks.
    static const char* GetBackendName();

private:
    struct State;
    std::unique_ptr<State> m_pState;
    bool m_bActive = false;
};
