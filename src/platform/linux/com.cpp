#include "platform/com.h"

namespace platform {

ComScope::ComScope(ComInit /*mode*/) : m_hr(S_OK_) {}
ComScope::~ComScope() = default;

}  // namespace platform
