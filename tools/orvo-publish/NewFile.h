// Files the publisher writes once: created exclusively, flushed, never replacing another.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace publish {

enum class IfExists { Refuse, Keep };

// Writes data to a file that must not exist yet. With IfExists::Keep a file already there is left
// as it is (for names that always hold the same bytes). Throws InputError naming the file.
void WriteNewFile(const std::string& path, std::string_view data, mode_t mode, IfExists ifExists = IfExists::Refuse);

}  // namespace publish
