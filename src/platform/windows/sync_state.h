// The Windows form of a waitable object: the kernel handle it waits on (shared by sync.cpp and
// thread.cpp only).
#pragma once

#include <windows.h>

#include "platform/sync.h"

namespace platform {

struct Waitable::State {
    HANDLE handle = nullptr;  // an event, or a thread once one has been created
};

}  // namespace platform
