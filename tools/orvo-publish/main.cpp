// orvo-publish: turns a build folder into a release folder the updater reads, and makes and
// uses the keys that sign it.
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "orvo-publish/Publisher.h"
#include "orvo-publish/ReleaseConfig.h"

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  orvo-publish build --config RELEASE.toml --from BUILD_DIR --out RELEASE_DIR\n"
    "                     [--previous OLD_MANIFEST | --first-release] [--base-url URL] [--key SECRET_KEY]\n"
    "                     [--allow-expired] [--dry-run]\n"
    "                     [--previous-files OLD_BUILDS] [--delta-releases N]\n"
    "                                            deltas from the previous release's files (and\n"
    "                                            OLD_BUILDS: a build, or one build per subfolder),\n"
    "                                            from up to N earlier versions of each (default 1)\n"
    "  orvo-publish keygen [--out NAME]          writes NAME.key and NAME.pub (default: orvo-release)\n"
    "  orvo-publish sign MANIFEST --key SECRET_KEY [--trusted-comment TEXT] [--allow-expired]\n"
    "                                            writes MANIFEST.sig\n";

int Usage(const std::string& problem) {
    std::cerr << "orvo-publish: " << problem << "\n" << kUsage;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Zip entry times are written in local time: UTC makes the packages the same everywhere.
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage("no command");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::cout << kUsage;
        return 0;
    }
    const std::string command = args[0];
    std::map<std::string, std::string> opts;
    std::vector<std::string> positional;
    bool dryRun = false, firstRelease = false, allowExpired = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--dry-run") {
            dryRun = true;
        } else if (a == "--first-release") {
            firstRelease = true;
        } else if (a == "--allow-expired") {
            allowExpired = true;
        } else if (a.starts_with("--")) {
            static const char* kWithValue[] = {"--config", "--from", "--out", "--previous", "--base-url", "--key", "--trusted-comment",
                                             "--previous-files", "--delta-releases"};
            if (std::find(std::begin(kWithValue), std::end(kWithValue), a) == std::end(kWithValue)) return Usage("unknown option " + a);
            if (i + 1 >= args.size()) return Usage(a + " needs a value");
            opts[a.substr(2)] = args[++i];
        } else {
            positional.push_back(a);
        }
    }
    auto need = [&](const char* name) { return opts.count(name) != 0 && !opts[name].empty(); };
    try {
        if (command == "build") {
            if (!positional.empty()) return Usage("unexpected " + positional[0]);
            if (!need("config") || !need("from") || (!need("out") && !dryRun)) return Usage("build needs --config, --from and --out");
            publish::BuildOptions o;
            o.config = opts["config"];
            o.from = opts["from"];
            o.out = need("out") ? opts["out"] : "release";
            o.previous = opts["previous"];
            o.baseUrl = opts["base-url"];
            o.key = opts["key"];
            o.previousFiles = opts["previous-files"];
            if (need("delta-releases")) {
                const std::string& n = opts["delta-releases"];
                if (n.empty() || n.size() > 2 || n.find_first_not_of("0123456789") != std::string::npos || std::stoi(n) > 16)
                    return Usage("--delta-releases takes a number from 0 to 16");
                o.deltaReleases = static_cast<size_t>(std::stoi(n));
            }
            o.dryRun = dryRun;
            o.firstRelease = firstRelease;
            o.allowExpired = allowExpired;
            publish::BuildRelease(o, std::cout);
        } else if (command == "keygen") {
            if (!positional.empty() || dryRun || firstRelease || allowExpired) return Usage("keygen takes only --out");
            publish::MakeKeyPair(need("out") ? opts["out"] : "orvo-release", std::cout);
        } else if (command == "sign") {
            if (positional.size() != 1 || !need("key") || dryRun || firstRelease) return Usage("sign needs one MANIFEST and --key");
            publish::SignFile(positional[0], opts["key"], opts["trusted-comment"], allowExpired, std::cout);
        } else {
            return Usage("unknown command " + command);
        }
    } catch (const publish::InputError& e) {
        std::cerr << "orvo-publish: " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "orvo-publish: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
