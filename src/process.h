// process.h: the process-wide set-up of every program that runs the demo's window, and its words.
#pragma once

#include <QString>

// Call first in main, before the application object: reopens closed standard streams, keeps the
// driver's per-frame blocks out of the heap, lets the greeting's glyphs be cached, and turns
// Qt's fatal errors before the window is on screen (no display, no platform plugin, no screen)
// into refusals, and keeps Qt's reports of requests on a window another program destroyed off
// the terminal. Remembers the program's name for the lines below.
void prepareProcess(int argc, char **argv);

// One line on standard error: the program's name, then the text.
void say(const QString &text);

// Says why the program cannot run; returns the exit status that says so, 1.
int refuse(const QString &why);
