#pragma once

// XCB's XKB header names a field `explicit`, a keyword of C++.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
