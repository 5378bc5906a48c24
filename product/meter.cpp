// Pure logic of the meter: command line, rates, units and graph scaling.
#include "meter.h"

#include <cctype>
#include <cstring>

bool IsUninstallCommand(const char *commandLine)
{
    static const char Switch[] = "/UNINSTALL";
    const size_t switchLen = sizeof(Switch) - 1;
    const char *p = commandLine;
    while (p && *p) {
        while (*p == ' ' || *p == '\t' || *p == '"') p++;
        const char *word = p;
        while (*p && *p != ' ' && *p != '\t' && *p != '"') p++;
        if ((size_t)(p - word) != switchLen) continue;
        size_t i = 0;
        while (i < switchLen && std::toupper((unsigned char)word[i]) == Switch[i]) i++;
        if (i == switchLen) return true;
    }
    return false;
}
