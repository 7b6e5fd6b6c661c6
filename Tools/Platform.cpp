#include "Tools/Platform.h"

#include <cstdlib>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace cli {

void SetEnvVar(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value ? value : "");
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

bool GetEnvVar(const char* name, std::string* value) {
    const char* v = std::getenv(name);
    if (!v) return false;
    *value = v;
    return true;
}

bool StderrIsTerminal() {
#if defined(_WIN32)
    return _isatty(2) != 0;
#else
    return isatty(2) != 0;
#endif
}

}  // namespace cli
