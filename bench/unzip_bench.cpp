// Unpacks one package next to itself with UnzipFile; bench/unzip.sh times it against unzip.
#include <cstdio>

#include "platform/strings.h"
#include "updater/UnzipFile.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: unzip_bench PACKAGE.zip\n");
        return 2;
    }
    return UpDater::UnzipFile(platform::FromUtf8(argv[1])) ? 0 : 1;
}
