#pragma once
#include <QIcon>

// Small list images, drawn here rather than loaded, 16 x 16 pixels.
// User-interface thread, after the application object exists.

// A blue right-pointing triangle: a row of traffic sent by the local host.
QIcon SentIcon();
// A red left-pointing triangle: a row of traffic received by it.
QIcon ReceivedIcon();
// The host list's image: a small screen.
QIcon HostIcon();
