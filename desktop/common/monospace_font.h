#pragma once
#include <QFont>

// The 10-point monospaced font of the text panes: Courier New where it is
// installed, otherwise the system's fixed-pitch font.
QFont MonospaceFont();
