#pragma once

#include "app/Resources.h"

#include <QDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

#include <algorithm>
#include <cmath>

// What exec() returns: OK and Cancel as the callers compare them.
enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2 };

// The frame shared by the program's small dialogs: a fixed-size window with only
// a close box, its controls at the positions of a 96-dpi layout scaled up to the
// desktop font; the close box gives mrCancel, Escape presses the cancel button
// and does nothing where there is none. Each form gives its first control the
// focus before it is shown; Qt then hands it over as a tab move, which selects an
// edit's text. Kept in this header because it is only a little glue around QDialog.
class TModalForm : public QDialog
{
protected:
    TModalForm(QWidget* owner, int clientWidth, int clientHeight)
        : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
        , FClientWidth(clientWidth)
        , FClientHeight(clientHeight)
    {
        setWindowIcon(AppIcon());
        setFixedSize(Scaled(clientWidth), Scaled(clientHeight));
    }

    void Place(QWidget* control, int left, int top, int width, int height)
    {
        control->setGeometry(Scaled(left), Scaled(top), Scaled(width), Scaled(height));
    }

    // Labels size themselves to their text when the dialog is shown.
    void PlaceLabel(QLabel* label, int left, int top)
    {
        label->setTextFormat(Qt::PlainText);
        label->move(Scaled(left), Scaled(top));
    }

    void SetModalResult(QPushButton* button, int result)
    {
        connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
    }

    void SetCancelButton(QPushButton* button) { FCancelButton = button; }

    void reject() override { done(mrCancel); }

    void keyPressEvent(QKeyEvent* event) override
    {
        if (!event->matches(QKeySequence::Cancel)) {
            QDialog::keyPressEvent(event);
            return;
        }
        if (FCancelButton && FCancelButton->isVisible() && FCancelButton->isEnabled())
            FCancelButton->click();
        event->accept();
    }

    // Sizes come last, after the caller has set its texts, and before QDialog
    // centres the window.
    void showEvent(QShowEvent* event) override
    {
        FitToContents();
        QDialog::showEvent(event);
    }

private:
    // The layouts were drawn for a font 13 pixels high; a larger desktop font
    // scales them, rounding to the nearest pixel, ties to even.
    int Scaled(int layoutPixels) const
    {
        const double factor = std::max(1.0, QFontMetrics(font()).height() / 13.0);
        return static_cast<int>(std::nearbyint(layoutPixels * factor));
    }

    // Widens the window where a text outgrows the layout, keeping the margin of
    // the layout and the buttons centred; nothing ever shrinks below the layout.
    void FitToContents()
    {
        int right = 0;
        int bottom = 0;
        for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (auto* label = qobject_cast<QLabel*>(child))
                label->adjustSize();
            if (qobject_cast<QPushButton*>(child))
                continue;
            right = std::max(right, child->geometry().right() + 1);
            bottom = std::max(bottom, child->geometry().bottom() + 1);
        }
        const int width = std::max(Scaled(FClientWidth), right + Scaled(kMargin));
        const int height = std::max(Scaled(FClientHeight), bottom + Scaled(kMargin));
        const int shift = (width - Scaled(FClientWidth)) / 2;
        for (QPushButton* button : findChildren<QPushButton*>(Qt::FindDirectChildrenOnly))
            button->move(button->x() + shift - FButtonShift, button->y());
        FButtonShift = shift;
        setFixedSize(width, height);
    }

    static constexpr int kMargin = 16;

    int FClientWidth;
    int FClientHeight;
    QPushButton* FCancelButton = nullptr;
    int FButtonShift = 0;
};
