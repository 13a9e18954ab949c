// kelvane-cli: list, inspect, export and send SysEx dumps from scripts (see --help).

#include <iostream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Terminal.h"

int main(int argc, char** argv) {
    cli::PrepareConsole();
    return cli::Run(cli::ProgramArguments(argc, argv), std::cout, std::cerr, cli::StderrIsTerminal());
}
