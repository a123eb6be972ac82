// Writes the window icon, as the program draws it, into PNG files for the
// hicolor theme: trafalyn-SIZE.png for each size the program draws. Run on
// the offscreen platform by `make icons`; the files are kept in the source
// tree, so a build needs neither a display nor this program.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QPixmap>
#include <cstdio>

#include "desktop/window/app_artwork.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icons OUTPUT_DIR\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  const QIcon icon = MakeAppIcon();
  for (const QSize& size : icon.availableSizes()) {
    const QString name = out.filePath(QStringLiteral("trafalyn-%1.png").arg(size.width()));
    if (!icon.pixmap(size).save(name, "PNG")) {
      std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(name));
      return 1;
    }
  }
  return 0;
}
