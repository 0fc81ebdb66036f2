#pragma once

#include "app/StatusBar.h"
#include "net/PortMapper.h"
#include "session/Session.h"
#include "session/SessionWindow.h"

#include <QMainWindow>
#include <QStringList>
#include <QTimer>

#include <memory>

class QAction;
class QFrame;
class QMenu;
class QPlainTextEdit;
class TBoardView;
class TComputerOpponent;
class TFloatingPanel;
class TServiceDiscovery;

// The main window: owns the session (board, game, names, scores, connection) for the whole
// run, shows it, and turns menu commands, presses and typed chat into calls on it.
class TForm1 : public QMainWindow, public TSessionWindow
{
    Q_OBJECT

public:
    // The chat log keeps only its newest lines: older ones have been pushed below the
    // bottom of a log that cannot scroll, so dropping them loses nothing visible.
    static constexpr int kMaxChatLines = 1000;
    // A longer received line is cut for display; the log is far too narrow to show more.
    static constexpr int kMaxChatLineLength = 16384;

    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    TSession& Session() { return *Session_; }

    // TSessionWindow
    void RepaintBoard() override;
    void DrawWinLine(int col1, int row1, int col2, int row2) override;
    void ShowStatus(const TStatusTexts& status) override;
    void InsertChatLine(const QString& line) override;
    int MessageBox(const QString& text, const QString& caption, unsigned flags) override;
    int ShowPlayAgain(const QString& message) override;
    void ListeningChanged(std::uint16_t port) override;

    // Components, named as the layout names them.
    QMenu* Game1 = nullptr;
    QMenu* Connection1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* New1 = nullptr;
    QAction* Computer1 = nullptr;
    QAction* N1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* Connect1 = nullptr;
    QAction* NetworkGames1 = nullptr;
    QAction* Disconnect1 = nullptr;
    QAction* Listen1 = nullptr;
    QAction* StopListening1 = nullptr;
    QAction* about1 = nullptr;
    TStatusBar* StatusBar1 = nullptr;
    TStatusPanel* StatusPanel0 = nullptr;
    TStatusPanel* StatusPanel1 = nullptr;
    TFloatingPanel* FloatingPanel2 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QFrame* Panel1 = nullptr;
    TBoardView* PaintBox1 = nullptr;
    TComputerOpponent* ComputerOpponent = nullptr;  // the bot process of Computer1
    TServiceDiscovery* Discovery = nullptr;  // announces our listener, finds the others

    void New1Click();
    void Computer1Click();
    void Exit1Click();
    void Connect1Click();
    void NetworkGames1Click();
    void Disconnect1Click();
    void Listen1Click();
    void StopListening1Click();
    void about1Click();
    void Memo1KeyDown(int key);
    void SetConnectionMenu(bool connectEnabled, bool disconnectEnabled, bool listenEnabled,
                           bool stopListeningEnabled);
    void AdjustStatusPanels();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void FormCreate();
    void CreateComponents();
    void CentreOnScreen(int height);
    void CreateMenu();
    void CreateStatusBar();
    void CreateChatPanel();
    void CreateBoardPanel();
    void AskLocalName();
    void SetMenuTexts();
    void FormResize();
    void Panel1Resize();
    void DescribeBoard();

    void CreateComputerOpponent();
    void ShowComputerOpponentState();
    void ShowPendingChat();

    QStringList PendingChat;  // oldest first, not yet in the log
    QTimer ChatFlush;
    std::unique_ptr<TSession> Session_;
    // The destructor closes the session first, so on quit the router hears of a listener already gone.
    TPortMapper PortMapping{[this](const QString& line) {
        if (Session_)
            Session_->InsertChatLine(line);
    }};
};
