// What the user chooses about scaling the drawing up (--scale, --scale-filter): values
// only, for the command line and the sinks; the scaler itself is output/frame_scale.h.
#pragma once

enum class ScaleFilter { Nearest, Smooth };

// --scale auto, and the largest factor taken.
enum { SCALE_AUTO = 0, SCALE_MAX = 32 };
