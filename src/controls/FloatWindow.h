#pragma once

#include <QWidget>

class TDockLayout;

// The small stay-on-top tool window that holds a torn-off floating panel. It belongs to the
// widget the panel was torn from, so the panel inside still goes away with its form.
class TFloatWindow : public QWidget
{
    Q_OBJECT

public:
    explicit TFloatWindow(QWidget* owner);
    // Tells the panel before Qt deletes the children, the panel among them.
    ~TFloatWindow() override;

    TDockLayout* Dock() const { return FDock; }

signals:
    // The user closed the window; it hides itself afterwards.
    void CloseRequested();
    void Destroying();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    TDockLayout* FDock;
};
