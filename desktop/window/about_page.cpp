#include "desktop/window/about_page.h"

#include <QGridLayout>
#include <QLabel>

#include "desktop/window/app_artwork.h"

CAboutPage::CAboutPage(const QString& version, QWidget* parent) : QWidget(parent) {
  auto* picture = new QLabel(this);
  picture->setPixmap(MakeAboutPicture());
  picture->setFixedSize(183, 129);

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(11, 11, 11, 11);
  grid->setHorizontalSpacing(16);
  grid->addWidget(picture, 0, 0, 3, 1, Qt::AlignTop | Qt::AlignLeft);
  grid->addWidget(new QLabel(QStringLiteral("Vendor:"), this), 0, 1, Qt::AlignTop);
  grid->addWidget(new QLabel(QStringLiteral("Ostvane"), this), 0, 2, Qt::AlignTop);
  grid->addWidget(new QLabel(QStringLiteral("Version:"), this), 1, 1, Qt::AlignTop);
  version_ = new QLabel(version.isEmpty() ? QStringLiteral("1.0.0.1") : version, this);
  version_->setObjectName(QStringLiteral("version"));
  version_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  grid->addWidget(version_, 1, 2, Qt::AlignTop);
  grid->setRowStretch(2, 1);
  grid->setColumnStretch(3, 1);
}

QString CAboutPage::VersionText() const { return version_->text(); }
