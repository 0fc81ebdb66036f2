#include "app/Resources.h"
#include "app/Unit1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tessaro"));
    QApplication::setApplicationVersion(QStringLiteral(TESSARO_VERSION));
    // Matches the desktop entry, so the desktop shows our icon for the running window.
    QGuiApplication::setDesktopFileName(QStringLiteral("tessaro"));
    QApplication::setWindowIcon(AppIcon());
    InstallToolkitTranslation();

    TForm1 Form1;
    Form1.show();
    return app.exec();
}
