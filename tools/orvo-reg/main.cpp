#include <clocale>
#include <iostream>

#include "RegCommand.h"
#include "platform/strings.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.push_back(platform::FromUtf8(argv[i]));
    return OrvoReg::RunRegCommand(args, std::cin, std::cout, std::cerr);
}
