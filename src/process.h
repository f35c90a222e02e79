// process.h: the process-wide set-up of every program that runs the demo's window.
#pragma once

// Call first in main, before the application object: reopens closed standard streams, keeps the
// driver's per-frame blocks out of the heap, asks Mesa for software drawing where the machine has
// no GPU device, hands a launcher's activation token to Qt under the name Qt reads, lets the
// greeting's glyphs be cached, keeps every library from starting a session bus where the session
// has none, turns Qt's fatal errors before the window is on screen (no display, no platform
// plugin, no screen) into refusals, and keeps off the terminal Qt's reports of requests on a
// window another program destroyed and of a device-pixel ratio it corrected itself. Takes the
// program's name for its lines (words.h).
void prepareProcess(int argc, char **argv);
