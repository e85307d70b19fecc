// The operations every module shares: init, quit and config.
#pragma once

struct VisModule;

int visInit(VisModule* module);
void visQuit(VisModule* module);
void visConfig(VisModule* module);
