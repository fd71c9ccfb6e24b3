// Per-thread initialisation of the component model, held for a scope.
// Windows: OleInitialize / CoInitialize / CoInitializeEx(apartment-threaded, DDE disabled) and
// the matching uninitialise when the scope ends, if initialisation succeeded.
// Linux: there is no component model to set up; every scope succeeds and does nothing.
#pragma once

#include <cstdint>

namespace platform {

inline constexpr int32_t S_OK_ = 0;
inline constexpr int32_t E_FAIL_ = static_cast<int32_t>(0x80004005u);
inline constexpr int32_t E_OUTOFMEMORY_ = static_cast<int32_t>(0x8007000Eu);
inline constexpr int32_t E_ACCESSDENIED_ = static_cast<int32_t>(0x80070005u);
inline constexpr int32_t E_INVALIDARG_ = static_cast<int32_t>(0x80070057u);

inline bool Succeeded(int32_t hr) { return hr >= 0; }

enum class ComInit {
    Ole,                   // OleInitialize
    Apartment,             // CoInitialize(null)
    ApartmentNoOle1Dde,    // CoInitializeEx(apartment-threaded | OLE1 DDE disabled)
};

class ComScope {
public:
    explicit ComScope(ComInit mode);
    ~ComScope();
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

    int32_t Result() const { return m_hr; }
    bool Ok() const { return Succeeded(m_hr); }

private:
    int32_t m_hr = E_FAIL_;
};

}  // namespace platform
