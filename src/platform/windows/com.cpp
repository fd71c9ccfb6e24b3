#include "platform/com.h"

#include <windows.h>
#include <objbase.h>
#include <ole2.h>

namespace platform {

ComScope::ComScope(ComInit mode) {
    switch (mode) {
        case ComInit::Ole: m_hr = ::OleInitialize(nullptr); break;
        case ComInit::Apartment: m_hr = ::CoInitialize(nullptr); break;
        case ComInit::ApartmentNoOle1Dde:
            m_hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
            break;
    }
    m_mode = mode;
}

ComScope::~ComScope() {
    if (!Ok()) return;
    if (m_mode == ComInit::Ole)
        ::OleUninitialize();
    else
        ::CoUninitialize();
}

}  // namespace platform
