#pragma once

#include "app/ModalForm.h"

class QLabel;
class QLineEdit;
class QPushButton;

// The player-name prompt of start-up. It has no cancel button, so Escape does
// nothing; the caller reads Edit1's text whatever exec() returns.
class TForm4 : public TModalForm
{
    Q_OBJECT

public:
    explicit TForm4(QWidget* owner = nullptr);

    QLabel* Label1;
    QLineEdit* Edit1;
    QPushButton* Button1;

private:
    void FormCreate();
};
