#pragma once
#include <QIcon>
#include <QPixmap>

// The program's own pictures, drawn at start-up rather than loaded from
// files. User-interface thread only (they paint with QPainter).

// The window icon: a traffic graph in a rounded tile, at several sizes.
QIcon MakeAppIcon();

// The About page's picture, 183 x 129 pixels.
QPixmap MakeAboutPicture();
