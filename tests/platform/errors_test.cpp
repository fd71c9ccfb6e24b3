// The error table: each failure a person may meet is told in its own sentence in every catalog,
// and the debug line keeps the system's own number beside the translated one.
#include "platform/errors.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#ifndef _WIN32
#include <libintl.h>
#include <sqlite3.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>

#include "platform/linux/posix_util.h"
#endif

#include "platform/fs.h"
#include "platform/i18n.h"
#include "platform/strings.h"
#include "support/test_env.h"

using namespace platform;

#ifndef _WIN32
namespace {

// The build tree's catalogs in one language (nullptr: the English of the source) while it lives.
class CatalogLanguage {
public:
    explicit CatalogLanguage(const char* szLocale) {
        if (const char* language = std::getenv("LANGUAGE")) m_language = language;
        ::unsetenv("LANGUAGE");
        m_previous = std::setlocale(LC_MESSAGES, nullptr);
        ::bindtextdomain(kTextDomain, ORVO_BINARY_DIR "/src/app/locale");
        ::bind_textdomain_codeset(kTextDomain, "UTF-8");
        m_ok = std::setlocale(LC_MESSAGES, szLocale) != nullptr;
    }
    ~CatalogLanguage() {
        std::setlocale(LC_MESSAGES, m_previous.c_str());
        if (!m_language.empty()) ::setenv("LANGUAGE", m_language.c_str(), 1);
    }
    bool ok() const { return m_ok; }

private:
    std::string m_previous, m_language;
    bool m_ok = false;
};

bool HasHangul(const std::wstring& text) {
    for (wchar_t c : text)
        if (c >= 0xAC00 && c <= 0xD7A3) return true;
    return false;
}

}  // namespace

TEST(ErrorTable, EachFailureHasItsOwnSentenceInEnglishAndKorean) {
    ASSERT_TRUE(orvo::test::Exists(ORVO_BINARY_DIR "/src/app/locale/ko/LC_MESSAGES/OrvoUpdaterService.mo"))
        << "build the catalogs (target orvo_catalogs)";
    struct Case {
        const char* what;
        uint32_t code;
    };
    const Case cases[] = {
        {"EIO", TranslateSystemError(EIO)},
        {"ENOSPC", TranslateSystemError(ENOSPC)},
        {"EACCES", TranslateSystemError(EACCES)},
        {"EROFS", TranslateSystemError(EROFS)},
        {"ENOEXEC", TranslateSystemError(ENOEXEC)},
        {"ELOOP", TranslateSystemError(ELOOP)},
        {"SQLite busy", posix::TranslateSqliteError(SQLITE_BUSY, 0)},
        {"SQLite corrupt", posix::TranslateSqliteError(SQLITE_CORRUPT, 0)},
    };
    for (const char* locale : {"C", "ko_KR.UTF-8"}) {
        CatalogLanguage language(locale);
        ASSERT_TRUE(language.ok()) << locale << " is missing: run scripts/setup";
        const bool korean = locale[0] == 'k';
        std::set<std::wstring> seen;
        for (const Case& c : cases) {
            const ErrorEntry* entry = FindError(c.code);
            ASSERT_NE(entry, nullptr) << c.what << " has no entry (" << c.code << ")";
            const std::wstring sentence = ErrorSentence(c.code);
            EXPECT_TRUE(seen.insert(sentence).second) << c.what << " shares its sentence: " << ToUtf8(sentence);
            if (korean) EXPECT_TRUE(HasHangul(sentence)) << c.what << ": " << ToUtf8(sentence);
            else EXPECT_EQ(sentence, entry->sentence) << c.what;
            EXPECT_EQ(sentence.find_first_of(L"0123456789"), std::wstring::npos) << c.what << ": " << ToUtf8(sentence);
        }
    }
}

// An errno without a twin still reads as a sentence, and the debug line keeps errno beside the
// translated number; a failed write keeps both.
TEST(ErrorTable, TheDebugLineKeepsTheSystemNumber) {
    EXPECT_EQ(DescribeError(SystemErrorOf(EIO)), L"ERROR_IO_DEVICE (1117, system error 5)");
    EXPECT_EQ(DescribeError(ERROR_ACCESS_DENIED_), L"ERROR_ACCESS_DENIED (5)");
    EXPECT_NE(ErrorSentence(TranslateSystemError(EHWPOISON)).find(L"unexpected"), std::wstring::npos);

    File full;
    ASSERT_EQ(full.Open(L"/dev/full", File::Mode::ReadWrite), 0u);
    EXPECT_FALSE(full.Write("x", 1) && full.Flush());
    EXPECT_EQ(full.Error().code, ERROR_DISK_FULL_);
    EXPECT_EQ(full.Error().native, ENOSPC);
}
#else
// Windows numbers are the system's own; an HRESULT of the Win32 facility is unwrapped.
TEST(ErrorTable, WindowsNumbersAndWrappedOnesReachTheTable) {
    EXPECT_EQ(TranslateSystemError(ERROR_DISK_FULL_), ERROR_DISK_FULL_);
    EXPECT_EQ(TranslateSystemError(static_cast<int64_t>(0x80070005u)), ERROR_ACCESS_DENIED_);
    std::set<std::wstring> seen;
    for (uint32_t code : {ERROR_IO_DEVICE_, ERROR_DISK_FULL_, ERROR_ACCESS_DENIED_, ERROR_WRITE_PROTECT_, ERROR_BAD_EXE_FORMAT_,
                          ERROR_STOPPED_ON_SYMLINK_, ERROR_LOCK_VIOLATION_, ERROR_REGISTRY_CORRUPT_})
        EXPECT_TRUE(seen.insert(ErrorSentence(code)).second) << code;
}
#endif
