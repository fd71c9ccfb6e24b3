// Downloads a 1 GiB file from nginx on loopback with GetFileFromURL and with `curl -o`, in
// alternating rounds in the same run, and prints the time ratio and our peak RSS.
//
//   orvo_bench_download [size MiB] [rounds]
//   orvo_bench_download fetch <url> <path>      (one download; used by the driver)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "http/HttpServerClient.h"
#include "platform/strings.h"
#include "support/nginx_server.h"

using namespace orvo::bench;

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "fetch") {
        const int r = Kaver::CHttpServerClient::GetFileFromURL(platform::FromUtf8(argv[2]), platform::FromUtf8(argv[3]));
        return r == 1 ? 0 : 1;
    }
    const uint64_t sizeMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;

    orvo::test::NginxServer web;
    const uint64_t size = sizeMiB * 1024 * 1024;
    orvo::test::MakePatternFile(web.Root() + "/big.bin", size);
    // The downloads land in ORVO_BENCH_OUT (default: the temporary folder); a memory-backed
    // folder such as /dev/shm keeps disk write-back noise out of the comparison.
    orvo::test::TempDir out;
    const char* outDir = std::getenv("ORVO_BENCH_OUT");
    const std::string url = web.Url("/big.bin");
    const std::string target = (outDir != nullptr && *outDir != '\0' ? std::string(outDir) : out.path()) +
                               "/orvo-bench-" + std::to_string(::getpid()) + ".bin";
    std::printf("downloading %s to %s\n", url.c_str(), target.c_str());
    const std::string exe = SelfExe();

    std::vector<double> ours, theirs;
    double peak = 0, curlPeak = 0;
    // One warm-up of each so that both start from the same page-cache state.
    Measure({exe, "fetch", url, target});
    ::unlink(target.c_str());
    for (int i = 0; i < rounds; ++i) {
        const Result a = Measure({exe, "fetch", url, target});
        const bool okA = a.status == 0 && orvo::test::SameFileContent(web.Root() + "/big.bin", target);
        ::unlink(target.c_str());
        const Result b = Measure({"curl", "-s", "-f", "-o", target, url});
        ::unlink(target.c_str());
        if (!okA || b.status != 0) {
            std::fprintf(stderr, "download failed (ours %d, curl %d)\n", a.status, b.status);
            return 1;
        }
        ours.push_back(a.seconds);
        theirs.push_back(b.seconds);
        peak = std::max(peak, a.peakMiB);
        curlPeak = std::max(curlPeak, b.peakMiB);
        std::printf("round %d: GetFileFromURL %.3f s (cpu %.3f s, %.1f MiB RSS), curl -o %.3f s (cpu %.3f s, %.1f MiB RSS)\n",
                    i + 1, a.seconds, a.cpuSeconds, a.peakMiB, b.seconds, b.cpuSeconds, b.peakMiB);
    }
    // Best of the rounds: the machine is shared, and the best round is the one least
    // disturbed by others.
    const double best = Best(ours);
    const double curlBest = Best(theirs);
    const double ratio = best / curlBest;
    std::printf("best GetFileFromURL %.3f s, curl -o %.3f s\n", best, curlBest);
    std::printf("size %llu MiB, median GetFileFromURL %.3f s (%.0f MiB/s), curl -o %.3f s (%.0f MiB/s)\n",
                static_cast<unsigned long long>(sizeMiB), Median(ours), sizeMiB / Median(ours), Median(theirs),
                sizeMiB / Median(theirs));
    std::printf("download: ratio %.2f (target 1.10), peak RSS %.1f MiB\n", ratio, peak);
    return 0;
}
