#pragma once
// Starting at sign-in: a shortcut to this program in the user's Startup
// folder, named after the program's title. The shell starts what that
// folder holds at each sign-in (and Settings lists it among the startup
// apps); no registry value is written.

// Whether the Startup folder holds our shortcut and it points at this very
// exe: one left pointing where the exe was before a move does not count.
// Reads one small local file; main thread (a single-threaded apartment).
bool StartsAtSignIn();

// Writes the shortcut, replacing whatever had its name, or deletes it. The
// shortcut starts the exe minimised and without taking the focus, in its own
// folder. A failure leaves things as they were, silently.
void SetStartAtSignIn(bool start);
