// kelvane-cli: list, inspect, export and send SysEx dumps from scripts (see --help).

#include <iostream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Terminal.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return cli::Run(args, std::cout, std::cerr, cli::StderrIsTerminal());
}
