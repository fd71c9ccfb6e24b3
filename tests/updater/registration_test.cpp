#include "updater/Registration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/strings.h"
#include "support/test_env.h"

using namespace UpDater;
using namespace orvo::test;
namespace fs = std::filesystem;

namespace {

class ComponentTest : public IsolatedEnvTest {
protected:
    ComponentTest() : m_log(m_root / "calls.log"), m_logEnv("ORVO_COMPONENT_LOG", m_log) {}

    // A copy of a fixture in an install folder of its own, as the updater finds it installed.
    std::wstring Install(const char* fixture, const std::string& as) {
        const std::string dest = m_root / ("app/" + as);
        MakeDirs(m_root / "app");
        fs::copy_file(fixture, dest, fs::copy_options::overwrite_existing);
        return platform::FromUtf8(dest);
    }
    std::string TakeLog() {
        std::string text = Exists(m_log) ? ReadFile(m_log) : std::string();
        fs::remove(m_log);
        return text;
    }

    std::string m_log;
    ScopedEnv m_logEnv;
};

}  // namespace

TEST_F(ComponentTest, CallsTheEntryPointsWithDependenciesFromTheComponentsFolder) {
    // Without its dependency beside it the component cannot load: passed over quietly.
    const std::wstring comp = Install(ORVO_FIXTURE_REGCOMP, "Comp.SO");
    RegisterServer(comp);
    EXPECT_EQ(TakeLog(), "");

    Install(ORVO_FIXTURE_COMPDEP, "libcompdep.so");
    UnregisterServer(comp);
    EXPECT_EQ(TakeLog(), "load regcomp\nunregister dep-beside-component\nunload regcomp\n");
    RegisterServer(comp);
    EXPECT_EQ(TakeLog(), "load regcomp\nregister dep-beside-component\nunload regcomp\n");

    // Loaded and unloaded, but nothing to call.
    RegisterServer(Install(ORVO_FIXTURE_NOENTRY, "plain.so"));
    EXPECT_EQ(TakeLog(), "load noentry\nunload noentry\n");

    // Missing, or not a shared object at all: nothing happens.
    RegisterServer(platform::FromUtf8(m_root / "app/missing.so"));
    WriteFile(m_root / "app/text.so", "not a library");
    UnregisterServer(platform::FromUtf8(m_root / "app/text.so"));
    EXPECT_EQ(TakeLog(), "");
}

TEST(Components, SelfRegisteringExtensionsOnThisSystem) {
    using platform::ComponentStep;
    for (auto step : {ComponentStep::Register, ComponentStep::Unregister}) {
        EXPECT_TRUE(IsSelfRegistering(L"/opt/app/libx.so", step));
        EXPECT_TRUE(IsSelfRegistering(L"/opt/app/LIBX.SO", step));
        EXPECT_FALSE(IsSelfRegistering(L"/opt/app/libx.so.1", step));
        EXPECT_FALSE(IsSelfRegistering(L"/opt/app/so", step));
        EXPECT_FALSE(IsSelfRegistering(L"/opt/app/x.dll", step));
    }
}

namespace {

class ShortcutTest : public IsolatedEnvTest {
protected:
    static void ExpectValid(const std::string& path) {
        std::string out;
        const int rc = orvo::test::Run("desktop-file-validate '" + path + "' 2>&1", &out);
        EXPECT_EQ(rc, 0) << out;
        EXPECT_EQ(out.find("error"), std::string::npos) << out;
    }
    static size_t CountEntries(const std::string& folder) {
        return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }
};

}  // namespace

TEST_F(ShortcutTest, LinkCreatesTheFolderChainAndQuotesTheTarget) {
    const std::string link = m_root / "menu/Orvo Suite/Tools/My App.desktop";
    const std::wstring target = L"\\opt\\My App\\bin\\run \"it\" $HOME `x` 100%";
    const std::wstring description = L" Starts\tthe app\nsecond line \\ 50% ";
    ASSERT_EQ(CreateShortcut(target, description, 0, platform::FromUtf8(link)), 0);
    ExpectValid(link);
    EXPECT_EQ(ReadFile(link),
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Name=My App\n"
              "Comment=\\sStarts\\tthe app\\nsecond line \\\\ 50%\\s\n"
              "Exec=\"/opt/My App/bin/run \\\\\"it\\\\\" \\\\$HOME \\\\`x\\\\` 100%%\"\n");

    // Saved again over the old one, atomically: no temporary file stays behind.
    ASSERT_EQ(CreateShortcut(L"/opt/app/run", L"", 0, platform::FromUtf8(link)), 0);
    ExpectValid(link);
    EXPECT_EQ(ReadFile(link), "[Desktop Entry]\nType=Application\nName=My App\nExec=\"/opt/app/run\"\n");
    EXPECT_EQ(CountEntries(m_root / "menu/Orvo Suite/Tools"), 1u);
}

TEST_F(ShortcutTest, HostileTargetsNeverBreakTheEntry) {
    const wchar_t* targets[] = {
        L"/opt/a\nExec=evil",
        L"/opt/a\n[Desktop Action x]",
        L"/opt/%f %U %%",
        L"/opt/it's;a|b&c>d<e~f#g*?(h)",
        L"/opt/tab\there\r",
    };
    const std::string link = m_root / "menu/Hostile.desktop";
    for (const wchar_t* t : targets) {
        const std::wstring target = t;
        SCOPED_TRACE(platform::ToUtf8(target));
        ASSERT_EQ(CreateShortcut(target, target, 0, platform::FromUtf8(link)), 0);
        ExpectValid(link);
        // Exactly the five lines written: nothing injected.
        const std::string text = ReadFile(link);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5);
        EXPECT_NE(text.find("\nExec=\""), std::string::npos);
    }
}

TEST_F(ShortcutTest, InternetShortcutIsALinkEntryAndGetsNoFolder) {
    MakeDirs(m_root / "desk");
    const std::string link = m_root / "desk/Orvo Home.desktop";
    const std::wstring url = L"https://example.invalid/a b?x=1&y=%20\nExec=evil";
    ASSERT_EQ(CreateShortcut(url, L"Home page", 1, platform::FromUtf8(link)), 0);
    ExpectValid(link);
    EXPECT_EQ(ReadFile(link),
              "[Desktop Entry]\n"
              "Type=Link\n"
              "Name=Orvo Home\n"
              "Comment=Home page\n"
              "URL=https://example.invalid/a b?x=1&y=%20\\nExec=evil\n");

    const std::string elsewhere = m_root / "nofolder/Site.desktop";
    EXPECT_NE(CreateShortcut(L"https://example.invalid/", L"", 1, platform::FromUtf8(elsewhere)), 0);
    EXPECT_FALSE(Exists(m_root / "nofolder"));
}
