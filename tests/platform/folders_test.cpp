// Where the per-user and machine folders come from on Linux: only absolute values count.
#ifndef _WIN32
#include "platform/folders.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/strings.h"
#include "support/test_env.h"

using namespace orvo::test;

class Folders : public IsolatedEnvTest {};

TEST_F(Folders, RelativeOrMissingLocationsAreNeverUsed) {
    MakeDirs(m_root / "rel/opt");
    MakeDirs(m_root / "relcache");
    char old[4096];
    ASSERT_NE(::getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(::chdir(m_root.path().c_str()), 0);
    struct Case {
        const char* what;
        std::optional<std::string> home, cache, sysroot;
        std::optional<std::string> expectedCache;  // nullopt: refused
        bool problem;
    };
    const Case cases[] = {
        {"relative XDG_CACHE_HOME is ignored", home(), "relcache", sysroot(), home() + "/.cache", false},
        {"absolute XDG_CACHE_HOME is taken", home(), m_root / "abscache", sysroot(), m_root / "abscache", false},
        {"no HOME", std::nullopt, std::nullopt, sysroot(), std::nullopt, true},
        {"relative HOME", "home", std::nullopt, sysroot(), std::nullopt, true},
        {"relative ORVO_SYSROOT is ignored", home(), std::nullopt, "rel", home() + "/.cache", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedEnv h("HOME", c.home), x("XDG_CACHE_HOME", c.cache), r("ORVO_SYSROOT", c.sysroot);
        const auto cache = platform::GetLocalAppDataLowFolder();
        EXPECT_EQ(cache ? std::optional<std::string>(platform::ToUtf8(*cache)) : std::nullopt, c.expectedCache);
        EXPECT_EQ(platform::PerUserFolderProblem().has_value(), c.problem);
        if (c.problem) {
            EXPECT_NE(platform::ToUtf8(platform::PerUserFolderProblem().value()).find("HOME"), std::string::npos);
        }
        const auto programs = platform::GetSpecialFolderPath(platform::CSIDL_PROGRAM_FILES, false);
        if (programs) {
            EXPECT_EQ(programs->front(), L'/') << platform::ToUtf8(*programs);
        }
    }
    ASSERT_EQ(::chdir(old), 0);
}
#endif
