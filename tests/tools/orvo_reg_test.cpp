#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/registry.h"
#include "support/test_env.h"


class OrvoRegCommand : public orvo::test::IsolatedEnvTest {
protected:
    int Reg(const std::string& args, std::string* out = nullptr) {
        return orvo::test::Run(orvo::test::BuiltBinary("tools/orvo-reg/orvo-reg") + " " + args + " 2>&1 </dev/null", out);
    }
};

TEST_F(OrvoRegCommand, AddQueryDeleteInTheToolsLayout) {
    ASSERT_EQ(Reg(R"(add 'HKLM\Software\Vendor\App' /v InstallPath /d '/opt/a b' /f)"), 0);
    ASSERT_EQ(Reg(R"('HKEY_LOCAL_MACHINE\Software\Vendor\App' /v Count /t REG_DWORD /d 0x1F /f)"), 1);  // verb missing
    ASSERT_EQ(Reg(R"(add 'HKLM\Software\Vendor\App' /v Count /t REG_DWORD /d 31 /f)"), 0);
    ASSERT_EQ(Reg(R"(add 'HKLM\Software\Vendor\App' /ve /d dflt /f)"), 0);

    std::string out;
    ASSERT_EQ(Reg(R"(query 'hklm\software\vendor\app')", &out), 0);
    EXPECT_EQ(out,
              "\nHKEY_LOCAL_MACHINE\\software\\vendor\\app\n"
              "    (Default)    REG_SZ    dflt\n"
              "    Count    REG_DWORD    0x1f\n"
              "    InstallPath    REG_SZ    /opt/a b\n\n");

    // What the tool wrote, the updater's own store reads.
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::Open(platform::RootLocalMachine, L"Software\\Vendor\\App", platform::RegAccess::Read, key), 0u);
    platform::RegValue v;
    ASSERT_EQ(key.QueryValue(L"Count", v), 0u);
    EXPECT_EQ(platform::DecodeRegDword(v.data), 31u);

    out.clear();
    ASSERT_EQ(Reg(R"(delete 'HKLM\Software\Vendor\App' /v Count)", &out), 1);  // no answer on stdin: cancelled
    EXPECT_NE(out.find("canceled"), std::string::npos);
    ASSERT_EQ(Reg(R"(delete 'HKLM\Software\Vendor\App' /va /f)"), 0);
    out.clear();
    ASSERT_EQ(Reg(R"(query 'HKLM\Software\Vendor\App')", &out), 0);
    EXPECT_EQ(out, "\nHKEY_LOCAL_MACHINE\\Software\\Vendor\\App\n");
    ASSERT_EQ(Reg(R"(delete 'HKLM\Software\Vendor' /f)"), 0);
    out.clear();
    EXPECT_EQ(Reg(R"(query 'HKLM\Software\Vendor\App')", &out), 1);
    EXPECT_EQ(out, "ERROR: The system was unable to find the specified registry key or value.\n");
}

TEST_F(OrvoRegCommand, RefusesBadInput) {
    const char* bad[] = {
        "",
        "query",
        "query HKXX\\\\Software",
        "frob HKLM\\\\Software",
        "add HKLM\\\\A /t REG_BINARY /d 00 /f",
        "add HKLM\\\\A /v N /t REG_DWORD /d 0x100000000 /f",
        "add HKLM\\\\A /v N /t REG_DWORD /d twelve /f",
        "query HKLM\\\\A /v",
        "query HKLM\\\\A /f",
        "delete HKLM\\\\A /v x /va /f",
    };
    for (const char* args : bad) EXPECT_EQ(Reg(args), 1) << args;
    EXPECT_FALSE(orvo::test::Exists(sysroot() + "/var/lib/orvo/registry/HKLM.db"));  // nothing was written
}

TEST_F(OrvoRegCommand, MachineHiveTheUserMayNotWriteIsAccessDenied) {
    ASSERT_EQ(Reg(R"(add 'HKLM\Software\Vendor' /v A /d 1 /f)"), 0);
    std::string out;
    std::string asUser;
    if (::geteuid() == 0) {
        // Root may write anywhere: ask as an unprivileged user instead.
        ::chmod(m_root.path().c_str(), 0755);
        asUser = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    } else {
        ::chmod((sysroot() + "/var/lib/orvo/registry").c_str(), 0555);
        ::chmod((sysroot() + "/var/lib/orvo/registry/HKLM.db").c_str(), 0444);
    }
    const std::string reg = asUser + orvo::test::BuiltBinary("tools/orvo-reg/orvo-reg");
    EXPECT_EQ(orvo::test::Run(reg + R"( add 'HKLM\Software\Vendor' /v B /d 2 /f 2>&1)", &out), 1);
    EXPECT_EQ(out, "ERROR: Access is denied.\n");
    out.clear();
    EXPECT_EQ(orvo::test::Run(reg + R"( query 'HKLM\Software\Vendor' /v A 2>&1)", &out), 0) << out;  // reading still works
}
