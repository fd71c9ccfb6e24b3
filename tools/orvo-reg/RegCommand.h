// The registry store's command: query, add and delete with the switches of the Windows tool.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace OrvoReg {

// Runs one command line (without the program name); returns the exit code (0 or 1).
int RunRegCommand(const std::vector<std::wstring>& args, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace OrvoReg
