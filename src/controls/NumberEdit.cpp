#include "controls/NumberEdit.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QResizeEvent>

#include <algorithm>

namespace {

constexpr char16_t kCarriageReturn = 13;
constexpr char16_t kBackspace = 8;
constexpr char16_t kFirstPrintable = 32;
constexpr int kBorderHeight = 1;

int HexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

std::optional<std::int32_t> ParseHex(QStringView digits)
{
    if (digits.isEmpty() || digits.size() > 8)
        return std::nullopt;
    std::uint32_t bits = 0;
    for (const QChar c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return std::nullopt;
        bits = (bits << 4) | static_cast<std::uint32_t>(digit);
    }
    return static_cast<std::int32_t>(bits);
}

std::optional<std::int32_t> ParseDecimal(QStringView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;

    // Magnitude of the most negative int32; stopping here keeps long digit runs cheap.
    constexpr std::int64_t kLimit = 2147483648;
    std::int64_t magnitude = 0;
    for (const QChar c : text) {
        if (c.unicode() < u'0' || c.unicode() > u'9')
            return std::nullopt;
        magnitude = magnitude * 10 + (c.unicode() - u'0');
        if (magnitude > kLimit)
            return std::nullopt;
    }
    if (!negative && magnitude == kLimit)
        return std::nullopt;
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

// Two's-complement wrap-around done in unsigned arithmetic, where overflow is defined.
std::int32_t WrappingAdd(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

std::int32_t WrappingSubtract(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// Keys that produce no character on the keyboard's own terms: shortcuts, Enter
// (which belongs to the dialog's default button) and the non-character Delete.
QString TypedText(const QKeyEvent* event)
{
    if (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))
        return {};
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Delete:
        return {};
    case Qt::Key_Backspace:
        return QString(QChar(kBackspace));
    default:
        return event->text();
    }
}

// The standard menu's items carry these labels, translated by QLineEdit itself.
bool HasLabel(const QAction* action, const char* sourceLabel)
{
    const QString label = QCoreApplication::translate("QLineEdit", sourceLabel);
    return action->text().section(QLatin1Char('\t'), 0, 0) == label;
}

} // namespace

TNumberEdit::TNumberEdit(QWidget* parent)
    : QLineEdit(parent)
{
    setText(QStringLiteral("0"));
    UpdateMinimumHeight();
}

std::optional<std::int32_t> TNumberEdit::TextToNumber(QStringView text)
{
    qsizetype start = 0;
    while (start < text.size() && text[start] == u' ')
        ++start;
    const QStringView rest = text.mid(start);
    if (rest.startsWith(u'$'))
        return ParseHex(rest.mid(1));
    return ParseDecimal(rest);
}

void TNumberEdit::SetMinValue(std::int32_t value)
{
    FMinValue = value;
}

void TNumberEdit::SetMaxValue(std::int32_t value)
{
    FMaxValue = value;
}

void TNumberEdit::SetIncrement(std::int32_t value)
{
    FIncrement = value;
}

void TNumberEdit::SetEditorEnabled(bool value)
{
    FEditorEnabled = value;
}

void TNumberEdit::SetAutoSelect(bool value)
{
    FAutoSelect = value;
}

std::int32_t TNumberEdit::Value() const
{
    return TextToNumber(text()).value_or(FMinValue);
}

void TNumberEdit::SetValue(std::int32_t value)
{
    setText(QString::number(ClampToRange(value)));
}

std::int32_t TNumberEdit::ClampToRange(std::int32_t n) const
{
    if (FMinValue == FMaxValue)
        return n;
    // The lower limit is tested first, which decides the case MinValue > MaxValue.
    if (n < FMinValue)
        return FMinValue;
    if (n > FMaxValue)
        return FMaxValue;
    return n;
}

int TNumberEdit::MinimumHeight() const
{
    const int fontHeight = QFontMetrics(font()).height();
    const int defaultHeight = QFontMetrics(QApplication::font()).height();
    return fontHeight + std::min(defaultHeight, fontHeight) / 4 + 4 * kBorderHeight + 2;
}

bool TNumberEdit::IsAcceptedKey(QChar key) const
{
    const char16_t code = key.unicode();
    const bool isSign = code == u'+' || code == u'-';
    const bool isDigit = code >= u'0' && code <= u'9';
    const bool isControl = code < kFirstPrintable && code != kCarriageReturn;
    if (!isSign && !isDigit && !isControl)
        return false;
    // A fixed field still lets the copy, paste and cut shortcuts through.
    if (!FEditorEnabled && (code == kBackspace || code >= kFirstPrintable))
        return false;
    return true;
}

void TNumberEdit::StepUp(QObject* sender)
{
    Q_UNUSED(sender);
    if (isReadOnly()) {
        Beep();
        return;
    }
    SetValue(WrappingAdd(Value(), FIncrement));
}

void TNumberEdit::StepDown(QObject* sender)
{
    Q_UNUSED(sender);
    if (isReadOnly()) {
        Beep();
        return;
    }
    SetValue(WrappingSubtract(Value(), FIncrement));
}

void TNumberEdit::Beep()
{
    QApplication::beep();
}

QMenu* TNumberEdit::CreateEditMenu()
{
    QMenu* menu = createStandardContextMenu();
    if (ClipboardEditsAllowed())
        return menu;
    for (QAction* action : menu->actions()) {
        if (HasLabel(action, "Cu&t") || HasLabel(action, "&Paste"))
            action->setEnabled(false);
    }
    return menu;
}

void TNumberEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Up)
        StepUp(this);
    else if (event->key() == Qt::Key_Down)
        StepDown(this);

    if (event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut)) {
        if (ClipboardEditsAllowed())
            QLineEdit::keyPressEvent(event);
        else
            event->accept();
        return;
    }
    if (IsBlockedEdit(event)) {
        Beep();
        event->accept();
        return;
    }

    const QString typed = TypedText(event);
    if (typed.isEmpty()) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    const QString kept = FilterTyped(typed);
    if (kept == typed) {
        QLineEdit::keyPressEvent(event);
    } else if (kept.isEmpty()) {
        event->accept();
    } else {
        QKeyEvent filtered(event->type(), event->key(), event->modifiers(), kept,
                           event->isAutoRepeat(), static_cast<quint16>(event->count()));
        QLineEdit::keyPressEvent(&filtered);
        event->setAccepted(filtered.isAccepted());
    }
}

// Input methods commit text without key presses; it is typed text all the same.
void TNumberEdit::inputMethodEvent(QInputMethodEvent* event)
{
    const QString commit = event->commitString();
    const QString kept = FilterTyped(commit);
    if (kept == commit) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    QInputMethodEvent filtered(event->preeditString(), event->attributes());
    filtered.setCommitString(kept, event->replacementStart(), event->replacementLength());
    QLineEdit::inputMethodEvent(&filtered);
}

void TNumberEdit::focusInEvent(QFocusEvent* event)
{
    const bool hadSelection = hasSelectedText();
    QLineEdit::focusInEvent(event);
    // A context menu closing hands the focus back; it never really left.
    if (event->reason() == Qt::PopupFocusReason)
        return;
    const bool byLeftPress = event->reason() == Qt::MouseFocusReason
        && QGuiApplication::mouseButtons().testFlag(Qt::LeftButton);
    if (FAutoSelect && !byLeftPress)
        selectAll();
    else if (!FAutoSelect && !hadSelection)
        deselect();
}

void TNumberEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    if (event->reason() == Qt::PopupFocusReason)
        return;
    const std::int32_t value = Value();
    if (ClampToRange(value) != value)
        SetValue(value);
}

void TNumberEdit::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    const int minimum = MinimumHeight();
    if (height() < minimum)
        resize(width(), minimum);
}

void TNumberEdit::changeEvent(QEvent* event)
{
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        UpdateMinimumHeight();
}

void TNumberEdit::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = CreateEditMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

// The middle button pastes the X11 selection: a paste request like any other.
void TNumberEdit::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::MiddleButton && !ClipboardEditsAllowed()) {
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void TNumberEdit::dragEnterEvent(QDragEnterEvent* event)
{
    if (!ClipboardEditsAllowed()) {
        event->ignore();
        return;
    }
    QLineEdit::dragEnterEvent(event);
}

void TNumberEdit::dropEvent(QDropEvent* event)
{
    if (!ClipboardEditsAllowed()) {
        event->ignore();
        return;
    }
    QLineEdit::dropEvent(event);
}

// Keys that remove text without producing a character, refused like backspace
// when the field is fixed.
bool TNumberEdit::IsBlockedEdit(const QKeyEvent* event) const
{
    if (FEditorEnabled)
        return false;
    return event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace
        || event->matches(QKeySequence::DeleteStartOfWord) || event->matches(QKeySequence::DeleteEndOfWord)
        || event->matches(QKeySequence::DeleteEndOfLine) || event->matches(QKeySequence::DeleteCompleteLine);
}

QString TNumberEdit::FilterTyped(const QString& text)
{
    QString kept;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (IsAcceptedKey(c)) {
            kept += c;
            continue;
        }
        Beep();
        // One character, one beep, even when it takes two UTF-16 units.
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
    }
    return kept;
}

void TNumberEdit::UpdateMinimumHeight()
{
    setMinimumHeight(MinimumHeight());
}
