#pragma once

// `trafalyn [-s] [--settings FILE]`: the desktop program. Returns the exit
// status.
int RunDesktop(int argc, char** argv);
