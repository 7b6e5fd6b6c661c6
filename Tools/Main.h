// The vantro tool as a function: tests run it with captured output, and
// Tools/EntryPoint.cpp is the program's main.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace cli {

// Runs one command line (without the program name). Returns the exit code.
int RunVantro(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The text of `vantro --help`.
std::string HelpText();

}  // namespace cli
