#pragma once
#include <functional>

class CAppState;

// A forced log pass (every unwritten conversation is due) with the Stats,
// Data and Hex options in force, holding the traffic lock for the pass.
// Used when logging is switched off and when the main window closes; the
// caller checks the Log to File switch. User-interface thread; the caller
// holds no lock.
void RunFinalLogPass(CAppState& state);

// Called after every final pass, so tests can count them. Empty: none.
void SetFinalLogPassObserver(std::function<void()> observer);
