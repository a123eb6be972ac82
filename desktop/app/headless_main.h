#pragma once

// `trafalyn --headless ...`: the engine without a display. Returns the exit
// status.
int RunHeadless(int argc, char** argv);
