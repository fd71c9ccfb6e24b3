// The cause of the latest failure, as one sentence for the person watching the run ("<address>:
// the connection was refused", "<file> line 3 column 7: ..."). The place that meets a failure
// records it; the place that shows the failure message adds it. Debug lines are written as
// before, beside it. Any thread may record; the latest record wins.
#pragma once

#include <string>

namespace platform {

void SetFailureCause(std::wstring szSentence);
// The recorded cause (empty when none); the record is cleared.
std::wstring TakeFailureCause();
void ClearFailureCause();

// szMessage with the recorded cause on a line of its own after it (taking the record); the
// message alone when there is none.
std::wstring WithFailureCause(const std::wstring& szMessage);

}  // namespace platform
