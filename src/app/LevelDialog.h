#pragma once

#include "app/ModalForm.h"
#include "engine/Levels.h"

class QComboBox;
class QLabel;
class QPushButton;

// Chooses the computer opponent's level before a game against it. The caller reads Level()
// when exec() returns mrOk.
class TLevelDialog : public TModalForm
{
    Q_OBJECT

public:
    explicit TLevelDialog(QWidget* owner = nullptr);

    TLevel Level() const;

    QLabel* Label1;
    QComboBox* ComboBox1;
    QPushButton* Button1;
    QPushButton* Button2;

private:
    void FormCreate();
};
