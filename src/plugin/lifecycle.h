// The operations every module shares (init, quit, config), the window procedure of
// the visualisation window, and the settings file that remembers where each module's
// frame window stood.
#pragma once

#include <stddef.h>

#include "abi/vis_header.h"
#include "platform/win32.h"

// The window class of the visualisation window.
#define VIS_WINDOW_CLASS "SimpleVis"

// Builds the visualisation window inside a frame from the host, the drawing surface
// and the seeded particles. 0 on success; 1 after telling the user why not, with
// whatever this call had built taken down again.
int visInit(VisModule* module);

// Withdraws the window from the host, saves the frame position, releases the surface,
// destroys the frame and unregisters the window class.
void visQuit(VisModule* module);

// Shows the fixed notice; there is nothing to configure.
void visConfig(VisModule* module);

// The record handed to the host's frame-window factory; the host fills in frame.
extern EmbedRecord visEmbed;

// The procedure of the "SimpleVis" class.
LRESULT CALLBACK visWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The settings file's full path: the library's directory and "plugin.ini". False when
// there is no usable path (the library's name is unknown, or too long for MAX_PATH
// with "plugin.ini" in place of the file name); the settings are then skipped.
bool settingsPath(const VisModule* module, char* path, size_t size);

// Reads "Screen_x" and "Screen_y" of the module's section into the frame position; a
// missing file, section or key leaves the position as it is.
void loadSettings(const VisModule* module);

// Writes the frame position under the module's section, creating file and section.
void saveSettings(const VisModule* module);
