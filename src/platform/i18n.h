// Texts a person reads, in the user's language. The source holds the English text; a message
// catalog holds its translation. Debug lines never go through here.
// Linux: gettext, domain "OrvoUpdaterService"; the catalogs are looked up beside the running
// executable first ("<folder>/locale", then "<folder>/../share/locale"), so a build tree and an
// installed package find their own; the language comes from LANGUAGE, LC_ALL, LC_MESSAGES and
// LANG as for any program (the program must have called setlocale). The catalog is bound at the
// first text shown, so a run that shows nothing never opens it.
// Windows: the same catalogs are compiled in; the user interface language chooses.
#pragma once

#include <string>
#include <string_view>

namespace platform {

inline constexpr const char* kTextDomain = "OrvoUpdaterService";

// The translation of szEnglish in the user's language, or szEnglish itself. A translation whose
// printf conversions differ from the English text's is never used (a wrong catalog must not
// make a format read the wrong arguments).
std::wstring Translate(const wchar_t* szEnglish);

// True when both formats take the same conversions in the same order ("%%" is no conversion).
bool SameConversions(std::wstring_view szFormat, std::wstring_view szOther);

}  // namespace platform
