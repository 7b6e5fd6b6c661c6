// The few things of the host system the tool needs beyond the standard
// library: environment variables and whether a stream is a terminal.
#pragma once

#include <string>

namespace cli {

// Sets (value non-null) or removes an environment variable.
void SetEnvVar(const char* name, const char* value);
// The value, and whether it is set.
bool GetEnvVar(const char* name, std::string* value);
// Whether the standard error output is a terminal.
bool StderrIsTerminal();

}  // namespace cli
