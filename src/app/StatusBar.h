#pragma once

#include <QLabel>
#include <QStatusBar>

// One panel of the status bar: a sunken frame with one line of text that is cut with "…"
// where it does not fit, so the start of the text stays readable and nothing is drawn
// outside the panel, whatever the length of the names in it.
class TStatusPanel : public QLabel
{
    Q_OBJECT

public:
    explicit TStatusPanel(const QString& text, QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// StatusBar1: two panels side by side that never overlap. Panel 0 starts at the left edge
// with the width it is given; panel 1 takes the rest, up to the right edge.
class TStatusBar : public QStatusBar
{
    Q_OBJECT

public:
    explicit TStatusBar(QWidget* parent = nullptr);

    TStatusPanel* Panel0;
    TStatusPanel* Panel1;

    void SetPanel0Width(int width);
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void PlacePanels();

    int FPanel0Width = 400;
};
