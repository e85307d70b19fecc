// The one door to the operating system for the plug-in code.
//
// On Windows this is <windows.h> and the plug-in calls the real USER32, GDI32 and
// KERNEL32. Elsewhere it is the portable layer (libvisplatform), which provides the
// same names, types, constants and semantics for the subset the plug-in uses. Plug-in
// code includes this header and nothing platform-specific, and never tests _WIN32.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "portable/win32_portable.h"
#endif
