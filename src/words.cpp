// words.cpp: the program's one line on standard error, in its own name.
#include "words.h"

#include <cstdio>
#include <cstring>

namespace {
const char *name = "scrolldemo";
} // namespace

void takeProgramName(const char *argv0)
{
    if (!argv0 || !*argv0)
        return;
    const char *slash = std::strrchr(argv0, '/');
    name = slash ? slash + 1 : argv0;
}

QString programName()
{
    return QString::fromLocal8Bit(name);
}

void say(const QString &text)
{
    std::fprintf(stderr, "%s: %s\n", name, qPrintable(text));
}

int refuse(const QString &why)
{
    say(why);
    return 1;
}
