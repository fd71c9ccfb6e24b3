// The web engine's own processes only draw the progress: they run at a lower CPU priority than
// the update they show, so that on a machine with few cores the window does not slow it down
// (on one with enough cores nothing changes).
#pragma once

namespace platform::gtkwin {

// Lowers the priority of the engine's processes started so far (found among this process's
// descendants by their names), each once. Called as the engine starts them: it starts its page
// process with the first page load, and its network process soon after.
void LowerEnginePriority();

}  // namespace platform::gtkwin
