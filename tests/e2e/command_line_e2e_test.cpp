// What a person sees when starting the real updater: for each command line and language, the
// exit code, the message in that language, and the cause of a failure in one sentence.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/nginx_server.h"
#include "support/test_env.h"

namespace {

using orvo::test::NginxServer;

struct Language {
    const char* name;
    const char* env;  // locale variables of the run
    bool korean;
};

const Language kEnglishC{"LANG=C", "LANG=C", false};
const Language kKoreanLocale{"LANG=ko_KR.UTF-8", "LANG=ko_KR.UTF-8", true};
const Language kKoreanLanguage{"LANGUAGE=ko", "LANG=C.UTF-8 LANGUAGE=ko", true};
const Language kEnglishUtf8{"LANG=C.UTF-8", "LANG=C.UTF-8", false};

bool HasHangul(const std::string& text) {
    // Hangul syllables are U+AC00..U+D7A3: lead bytes 0xEA..0xED in UTF-8.
    for (unsigned char c : text) {
        if (c >= 0xEA && c <= 0xED) return true;
    }
    return false;
}

class CommandLineE2E : public orvo::test::IsolatedEnvTest {
protected:
    // Runs the updater with a clean environment: the isolated folders and the language only.
    int RunUpdater(const Language& lang, const std::string& args, std::string* out) {
        std::string env = "env -i PATH=/usr/bin:/bin";
        for (const char* name : {"HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "ORVO_SYSROOT"}) {
            if (const char* value = std::getenv(name)) env += std::string(" ") + name + "='" + value + "'";
        }
        env += std::string(" ") + lang.env;
        return orvo::test::Run(env + " " + orvo::test::BuiltBinary("src/app/OrvoUpdaterService") + " " + args + " 2>&1 </dev/null",
                               out);
    }
};

TEST_F(CommandLineE2E, ExitCodeAndMessageInTheUserLanguage) {
    std::string locales;
    orvo::test::Run("locale -a", &locales);
    ASSERT_NE(locales.find("ko_KR.utf8"), std::string::npos) << "the ko_KR.UTF-8 locale is missing: run scripts/setup";

    NginxServer web(NginxServer::Options{.https = true});
    orvo::test::WriteFile(web.Root() + "/bad.xml", "<Update>\n  <RegistData>\n    <Item>\n</Update>\n");
    orvo::test::WriteFile(web.Root() + "/good.xml", "<Update/>\n");
    const std::string refused = "http://127.0.0.1:" + std::to_string(orvo::test::FreeLoopbackPort()) + "/app.xml";
    const std::string missing = web.Url("/missing.xml");
    const std::string bad = web.Url("/bad.xml");
    const std::string untrusted = web.HttpsUrl("/good.xml");

    struct Case {
        std::string args;
        Language lang;
        int exitCode;
        std::vector<std::string> expected;  // each must appear in the output, in this order
        bool neutral = false;               // the same in every language
    };
    const std::string analyse = "OrvoUpdaterService: [Error] OrvoUpdaterService could not analyse the update's version.\n";
    const std::string analyseKo = "OrvoUpdaterService: [Error] OrvUpdaterService 버전 분석중 알 수 없는 버그가 발생 하였습니다.\n";
    const std::vector<Case> cases = {
        {"", kEnglishC, 2,
         {"OrvoUpdaterService: [Error] The arguments OrvoUpdaterService needs to run are not right.\n",
          "Usage: OrvoUpdaterService <manifest address> <caller window|NULL> <target file> [parameters...]\n"}},
        {"", kKoreanLocale, 2,
         {"OrvoUpdaterService: [Error] OrvUpdaterService 실행 시키는데 필요한 인자가 정확하지 않습니다.\n", "사용법: OrvoUpdaterService"}},
        {"", kKoreanLanguage, 2, {"OrvUpdaterService 실행 시키는데 필요한 인자가 정확하지 않습니다.", "사용법: "}},
        {"--help", kEnglishC, 0, {"Usage: OrvoUpdaterService", "||<local manifest path>", "Exit status:", "  2    the command line", "Environment:", "LANGUAGE"}},
        {"--help", kKoreanLanguage, 0, {"사용법: OrvoUpdaterService", "종료 상태:", "환경 변수:"}},
        {"--version", kEnglishC, 0, {"OrvoUpdaterService 1.0.0.0\n"}, true},
        {"--version", kKoreanLocale, 0, {"OrvoUpdaterService 1.0.0.0\n"}, true},
        {"--frobnicate", kEnglishC, 2, {"OrvoUpdaterService: unknown option '--frobnicate'\n", "Usage: ", "--help' for more information."}},
        {"--frobnicate", kKoreanLanguage, 2, {"알 수 없는 옵션 '--frobnicate'", "사용법: "}},
        {"--help now", kEnglishC, 2, {"'--help' takes no arguments", "Usage: "}},
        {refused + " NULL app", kEnglishC, 1, {analyse, refused + ": the connection was refused or the host cannot be reached.\n"}},
        {refused + " NULL app", kKoreanLocale, 1, {analyseKo, refused + ": 연결이 거부되었거나 호스트에 연결할 수 없습니다.\n"}},
        {missing + " NULL app", kEnglishC, 1, {analyse, missing + ": the server answered with HTTP status 404 Not Found.\n"}},
        {missing + " NULL app", kKoreanLanguage, 1, {analyseKo, missing + ": 서버가 HTTP 상태 404 Not Found(으)로 응답하였습니다.\n"}},
        {bad + " NULL app", kEnglishUtf8, 1, {analyse, "/Temp_bad.xml line 5 column 1: the manifest is not well-formed XML (unexpected end of data).\n"}},
        {bad + " NULL app", kKoreanLocale, 1, {analyseKo, "/Temp_bad.xml 5행 1열: 매니페스트가 올바른 XML이 아닙니다 (unexpected end of data).\n"}},
        {untrusted + " NULL app", kEnglishC, 1, {analyse, untrusted + ": the server's certificate is not trusted.\n"}},
        {untrusted + " NULL app", kKoreanLanguage, 1, {analyseKo, untrusted + ": 서버 인증서를 신뢰할 수 없습니다.\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("'" + c.args + "' with " + c.lang.name);
        std::string out;
        EXPECT_EQ(RunUpdater(c.lang, c.args, &out), c.exitCode) << out;
        size_t at = 0;
        for (const std::string& text : c.expected) {
            const size_t found = out.find(text, at);
            EXPECT_NE(found, std::string::npos) << "missing or out of order: " << text << "\n--- output:\n" << out;
            if (found != std::string::npos) at = found + text.size();
        }
        EXPECT_EQ(HasHangul(out), c.lang.korean && !c.neutral) << out;
    }
}

}  // namespace
