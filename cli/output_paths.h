#pragma once
#include <string>

#include "cli/headless_options.h"

// The files and folder a headless run will write, checked before it reads a
// single frame, so that a trace is never lost to an output found unwritable
// at its end: no file may be named twice (the input included), each export
// must be replaceable and the log directory must take new files. Returns
// false with `error` set to a one-line reason carrying the system's word
// (exit status 2). It makes and removes a probe file in each directory.
bool CheckOutputPaths(const CHeadlessOptions& o, std::string& error);
