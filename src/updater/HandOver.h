// The application's hand-over step, as the front ends (dialog, console) reach it without
// depending on the application object.
#pragma once

namespace UpDater {

class IHandOver {
public:
    virtual ~IHandOver() = default;
    // Starts the target when the run allows it (at most once per process) and notifies the
    // caller's window.
    virtual void ExecuteApp() = 0;
};

}  // namespace UpDater
