// The test suite's latency relay as a program, for the network benchmark:
//   orvo_bench_relay <target port> <delay each way, ms>
// prints the port it listens on, then relays until it is terminated.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "support/latency_proxy.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <target port> <delay ms each way>\n", argv[0]);
        return 2;
    }
    orvo::test::LatencyProxy relay(static_cast<uint16_t>(std::atoi(argv[1])), std::chrono::milliseconds(std::atoi(argv[2])));
    std::printf("%u\n", relay.Port());
    std::fflush(stdout);
    for (;;) ::pause();
}
