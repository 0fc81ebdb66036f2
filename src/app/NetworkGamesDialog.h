#pragma once

#include "app/ModalForm.h"
#include "net/ServiceDiscovery.h"

#include <QTimer>

#include <optional>

class QLabel;
class QPushButton;
class QTreeWidget;

// The games announced on the local network, listed live while the dialog is open. The caller
// connects to Chosen() when exec() returns mrOk.
class TNetworkGamesDialog : public TModalForm
{
    Q_OBJECT

public:
    TNetworkGamesDialog(TServiceDiscovery& discovery, QWidget* owner = nullptr);

    std::optional<TNetworkGame> Chosen() const;

    QTreeWidget* ListView1;
    QLabel* Label1;  // why nothing can be found, in place of the list
    QPushButton* Button1;
    QPushButton* Button2;

private:
    void FormCreate();
    void ShowGames();

    TGameBrowser Browser;
    QList<TNetworkGame> Shown;
    QTimer Refresh;  // a burst of announcements redraws the list once
};
