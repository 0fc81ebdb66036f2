#pragma once

#include "app/ModalForm.h"

#include <QUrl>

#include <functional>

class QLabel;
class QPushButton;

// The about box. Its two link labels open their address and leave the box open;
// Button1 has the focus and is neither default nor cancel, and Escape does nothing.
class TForm6 : public TModalForm
{
    Q_OBJECT

public:
    explicit TForm6(QWidget* owner = nullptr);

    static const QString AuthorAddress;
    static const QString TranslatorAddress;

    QPushButton* Button1;
    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;

    // Hands an address to the desktop; replaceable so a test can catch it instead.
    std::function<void(const QUrl&)> OpenUrl;

    void Label4Click(QObject* sender);
    void Label6Click(QObject* sender);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void MakeLink(QLabel* label);
};
