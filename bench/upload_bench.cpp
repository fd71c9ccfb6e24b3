// Uploads a 1 GiB file as a multipart post with PostToUrl and with `curl -F`, in alternating
// rounds to a loopback receiver that counts the bytes, and prints the time ratio and our peak RSS.
//
//   orvo_bench_upload [size MiB] [rounds]
//   orvo_bench_upload post <url> <path>        (one upload; used by the driver)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "http/HttpServerClient.h"
#include "platform/strings.h"
#include "support/fault_server.h"
#include "support/nginx_server.h"
#include "support/test_env.h"

using namespace orvo::bench;

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "post") {
        const int r = Kaver::CHttpServerClient::PostToUrl(platform::FromUtf8(argv[2]), L"",
                                                          {{L"userfile", platform::FromUtf8(argv[3]), 1}});
        return r == 1 ? 0 : 1;
    }
    const uint64_t sizeMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const uint64_t size = sizeMiB * 1024 * 1024;

    orvo::test::TempDir dir;
    const std::string file = dir / "upload.bin";
    orvo::test::MakePatternFile(file, size);
    // The receiver keeps no body; it checks that at least the file's bytes arrived.
    orvo::test::FaultServer receiver([size](orvo::test::FaultConnection& c) {
        orvo::test::RecordedRequest r;
        const bool whole = c.ReadRequest(&r, false);
        c.Send(whole && r.bodyBytes > size ? "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"
                                           : "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
    });
    const std::string url = receiver.Url("/upload.php");
    const std::string exe = SelfExe();

    std::vector<double> ours, theirs;
    double peak = 0;
    Measure({exe, "post", url, file});
    for (int i = 0; i < rounds; ++i) {
        const Result a = Measure({exe, "post", url, file});
        const Result b = Measure({"curl", "-s", "-f", "-o", "/dev/null", "-H", "Expect:", "-F", "userfile=@" + file, url});
        if (a.status != 0 || b.status != 0) {
            std::fprintf(stderr, "upload failed (ours %d, curl %d)\n", a.status, b.status);
            return 1;
        }
        ours.push_back(a.seconds);
        theirs.push_back(b.seconds);
        peak = std::max(peak, a.peakMiB);
        std::printf("round %d: PostToUrl %.3f s (cpu %.3f s, %.1f MiB RSS), curl -F %.3f s (cpu %.3f s, %.1f MiB RSS)\n",
                    i + 1, a.seconds, a.cpuSeconds, a.peakMiB, b.seconds, b.cpuSeconds, b.peakMiB);
    }
    std::printf("size %llu MiB, best PostToUrl %.3f s, curl -F %.3f s; medians %.3f s, %.3f s\n",
                static_cast<unsigned long long>(sizeMiB), Best(ours), Best(theirs), Median(ours), Median(theirs));
    std::printf("upload: ratio %.2f, peak RSS %.1f MiB (target 16)\n", Best(ours) / Best(theirs), peak);
    return 0;
}
