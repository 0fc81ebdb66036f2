#pragma once

#include <QString>

#include <cstdint>

// Message box flags and answers, with the values of the platform the protocol was born on,
// so the core can say exactly which box it wants and a fake window can answer it.
enum TBoxFlags : unsigned {
    MB_OK = 0x00,
    MB_YESNO = 0x04,
    MB_ICONERROR = 0x10,
    MB_ICONSTOP = 0x10,
};
enum TBoxAnswer : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// The buttons are the low four bits; the icon bits above them say nothing of the answers.
constexpr bool IsYesNo(unsigned flags) { return (flags & 0x0Fu) == MB_YESNO; }

// What the status bar and the connection menu show; computed by the core, shown by the window.
struct TStatusTexts
{
    bool ConnectEnabled = true;
    bool DisconnectEnabled = false;
    bool ListenEnabled = true;
    bool StopListeningEnabled = false;
    QString Panel0;
    QString Panel1;

    bool operator==(const TStatusTexts&) const = default;
};

// Everything the game core and the connection need of the main window. The program's
// window implements it with widgets; tests implement it with fakes that answer boxes on cue.
// Boxes and dialogs are modal: socket events keep being handled while they are open.
class TSessionWindow
{
public:
    virtual ~TSessionWindow() = default;

    virtual void RepaintBoard() = 0;
    virtual void DrawWinLine(int col1, int row1, int col2, int row2) = 0;
    virtual void ShowStatus(const TStatusTexts& status) = 0;
    virtual void InsertChatLine(const QString& line) = 0;  // at the top of the chat log
    virtual int MessageBox(const QString& text, const QString& caption, unsigned flags) = 0;
    virtual int ShowPlayAgain(const QString& message) = 0;  // modal result: 1 plays again
    // A goodbye arrived. The window waits for the close that follows; a bot need not.
    virtual void PeerSaidGoodbye() {}
    // A listener that other machines may reach opened on this port, or (0) it closed, for any
    // reason. Announcing it on the network or asking the router for it hangs on this.
    virtual void ListeningChanged(std::uint16_t port) { (void)port; }
};
