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
