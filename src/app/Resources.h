#pragma once

#include <QCursor>
#include <QIcon>
#include <QPixmap>

// The program's own pictures. Call these only once a QGuiApplication exists.

// The application icon, carried by every window.
QIcon AppIcon();
// The icon at one size, as the about dialog shows it.
QPixmap AppIconPixmap(int size);
// The pointing hand over links: 32 x 32, monochrome, hot spot at the fingertip (0, 0). On a
// screen of more device pixels per pixel it is drawn smooth at their size instead.
QCursor HandCursor();

// Loads Qt's own French texts; false, and nothing changes, where they are not installed.
bool InstallToolkitTranslation();
