// The four effects' render operations and the Koch edge routine they share.
#pragma once

struct VisModule;

int renderZarvenn(VisModule* module);
int renderPellox(VisModule* module);
int renderAmbrith(VisModule* module);
int renderTovanel(VisModule* module);

// Draws the Koch curve of the given depth from (x1, y1) to (x2, y2): 4^depth white
// one-pixel lines, each with a pen of its own.
void kochEdge(int x1, int y1, int x2, int y2, int depth);
