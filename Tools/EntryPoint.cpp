// The vantro program: the command line goes to RunVantro.
#include <iostream>
#include <string>
#include <vector>

#include "Tools/Main.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return cli::RunVantro(args, std::cout, std::cerr);
}
