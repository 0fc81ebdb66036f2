#include "controls/FloatWindow.h"

#include "controls/DockLayout.h"

#include <QCloseEvent>

TFloatWindow::TFloatWindow(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint)
    , FDock(new TDockLayout(this))
{
}

TFloatWindow::~TFloatWindow()
{
    emit Destroying();
}

void TFloatWindow::closeEvent(QCloseEvent* event)
{
    emit CloseRequested();
    event->accept();
}
