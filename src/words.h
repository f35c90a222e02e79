// words.h: what the program says on standard error, in its own name.
#pragma once

#include <QString>

// The name its lines begin with: the file name it was started as, from argv[0].
void takeProgramName(const char *argv0);

// That name.
QString programName();

// One line on standard error: the program's name, then the text.
void say(const QString &text);

// Says why the program cannot run; returns the exit status that says so, 1.
int refuse(const QString &why);
