// The program's version, kept in this one place: the resource script's
// version resource and the release package both take it from here.
#pragma once

#define LUMIVANE_VERSION_MAJOR 1
#define LUMIVANE_VERSION_MINOR 0
#define LUMIVANE_VERSION_PATCH 0
#define LUMIVANE_VERSION_BUILD 0
#define LUMIVANE_VERSION_TEXT "1.0.0.0"
