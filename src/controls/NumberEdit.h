#pragma once

#include <QLineEdit>

#include <cstdint>
#include <optional>

class QMenu;

// A single-line edit for a whole number. Typed characters are filtered down to
// digits and signs, the Up and Down keys step the number, and the text is pulled
// into [MinValue, MaxValue] when the focus leaves. Equal limits switch the range
// off. The number lives only in the text: Value reads and writes it.
class TNumberEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit TNumberEdit(QWidget* parent = nullptr);

    // Optional leading spaces, then a signed decimal in the int32 range or "$" and
    // one to eight hex digits taken as a 32-bit pattern; nothing may follow.
    static std::optional<std::int32_t> TextToNumber(QStringView text);

    // Plain stores: the range is applied on the next write of Value or focus loss.
    std::int32_t MinValue() const { return FMinValue; }
    void SetMinValue(std::int32_t value);
    std::int32_t MaxValue() const { return FMaxValue; }
    void SetMaxValue(std::int32_t value);
    std::int32_t Increment() const { return FIncrement; }
    void SetIncrement(std::int32_t value);
    bool EditorEnabled() const { return FEditorEnabled; }
    void SetEditorEnabled(bool value);
    bool AutoSelect() const { return FAutoSelect; }
    void SetAutoSelect(bool value);

    // An unreadable text reads as MinValue.
    std::int32_t Value() const;
    void SetValue(std::int32_t value);

    std::int32_t ClampToRange(std::int32_t n) const;
    int MinimumHeight() const;

    virtual bool IsAcceptedKey(QChar key) const;
    virtual void StepUp(QObject* sender);
    virtual void StepDown(QObject* sender);

protected:
    // Every refusal sounds through here, so a test can count them.
    virtual void Beep();
    // The standard edit menu, owned by this control, with cut and paste disabled
    // where they would be dropped.
    QMenu* CreateEditMenu();

    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool ClipboardEditsAllowed() const { return FEditorEnabled && !isReadOnly(); }
    bool IsBlockedEdit(const QKeyEvent* event) const;
    QString FilterTyped(const QString& text);
    void UpdateMinimumHeight();

    std::int32_t FMinValue = 0;
    std::int32_t FMaxValue = 0;
    std::int32_t FIncrement = 1;
    bool FEditorEnabled = true;
    bool FAutoSelect = true;
};
