// The program's version, kept in this one place: the resource script's
// version resource and About box, and the release package, all take it
// from here. UTF-8, as the resource script is.
#pragma once

#define LUMIVANE_VERSION_MAJOR 1
#define LUMIVANE_VERSION_MINOR 0
#define LUMIVANE_VERSION_PATCH 0
#define LUMIVANE_VERSION_BUILD 0
#define LUMIVANE_VERSION_TEXT "1.0.0.0"
// The About box's line. The resource compiler joins no adjacent strings in
// a dialog's controls, so it is one literal of its own, beside the numbers
// it repeats (major and minor).
#define LUMIVANE_ABOUT_VERSION_TEXT "Lumivane バージョン 1.0"
