#pragma once
// GDI+ headers, usable with NOMINMAX and WIN32_LEAN_AND_MEAN: the SDK's
// GDI+ headers expect min/max and the COM stream declarations in scope.

#include <windows.h>
#include <objidl.h>

#include <algorithm>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus

#include <gdiplus.h>

#include "base/win_raii.h"

// The image library while the token is held; an empty token when it could
// not start (the About box then shows no image).
using ImageLibraryToken = UniqueResource<ULONG_PTR, Gdiplus::GdiplusShutdown>;

inline ImageLibraryToken StartImageLibrary() {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return ImageLibraryToken();
    return ImageLibraryToken(token);
}
