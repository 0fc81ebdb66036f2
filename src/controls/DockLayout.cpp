#include "controls/DockLayout.h"

#include "controls/FloatingPanel.h"

#include <QEvent>
#include <QScopedValueRollback>
#include <QWidget>

#include <algorithm>
#include <array>

namespace {

// The classic toolkit aligns by kind, not by position in the list: this is what lets a
// client widget declared before a bottom one still end up above it.
constexpr std::array<TAlign, 5> kPlacementOrder{alTop, alBottom, alLeft, alRight, alClient};

bool isEdge(TAlign align)
{
    return align == alTop || align == alBottom || align == alLeft || align == alRight;
}

QSize currentSize(QLayoutItem* item)
{
    if (QWidget* widget = item->widget())
        return widget->size();
    return item->sizeHint();
}

void applyGeometry(QLayoutItem* item, int x, int y, int width, int height)
{
    const QRect rect(x, y, std::max(0, width), std::max(0, height));
    // Straight to the widget: the toolkit stretches a control whatever its size policy says.
    if (QWidget* widget = item->widget())
        widget->setGeometry(rect);
    else
        item->setGeometry(rect);
}

} // namespace

TDockLayout::TDockLayout(QWidget* parent)
    : QLayout(parent)
{
    setContentsMargins(0, 0, 0, 0);
}

TDockLayout::~TDockLayout() = default;

void TDockLayout::addWidget(QWidget* widget, TAlign align)
{
    if (!widget)
        return;
    if (find(widget)) {
        setAlign(widget, align);
        return;
    }
    addChildWidget(widget);
    append(new QWidgetItem(widget), align);
    syncWidget(widget, align);
}

void TDockLayout::setAlign(QWidget* widget, TAlign align)
{
    Entry* entry = find(widget);
    if (!entry) {
        addWidget(widget, align);
        return;
    }
    if (entry->align == align)
        return;
    entry->align = align;
    syncWidget(widget, align);
    invalidate();
}

TAlign TDockLayout::align(QWidget* widget) const
{
    const Entry* entry = find(widget);
    return entry ? entry->align : alNone;
}

void TDockLayout::setRectAdjuster(RectAdjuster adjuster)
{
    FAdjuster = std::move(adjuster);
    invalidate();
}

void TDockLayout::addItem(QLayoutItem* item)
{
    append(item, alNone);
}

QLayoutItem* TDockLayout::itemAt(int index) const
{
    if (index < 0 || index >= count())
        return nullptr;
    return FEntries[static_cast<std::size_t>(index)].item.get();
}

QLayoutItem* TDockLayout::takeAt(int index)
{
    if (index < 0 || index >= count())
        return nullptr;
    const auto position = FEntries.begin() + index;
    QLayoutItem* item = position->item.release();
    FEntries.erase(position);
    invalidate();
    return item;
}

int TDockLayout::count() const
{
    return static_cast<int>(FEntries.size());
}

QSize TDockLayout::sizeHint() const
{
    QSize client(0, 0);
    int edgeWidth = 0;
    int edgeHeight = 0;
    for (const Entry& entry : FEntries) {
        if (entry.item->isEmpty())
            continue;
        const QSize size = currentSize(entry.item.get());
        if (entry.align == alClient)
            client = client.expandedTo(entry.item->sizeHint());
        else if (entry.align == alLeft || entry.align == alRight)
            edgeWidth += size.width();
        else if (entry.align == alTop || entry.align == alBottom)
            edgeHeight += size.height();
    }
    const QMargins margins = contentsMargins();
    return {client.width() + edgeWidth + margins.left() + margins.right(),
            client.height() + edgeHeight + margins.top() + margins.bottom()};
}

QSize TDockLayout::minimumSize() const
{
    // The toolkit imposes no minimum: a resize bar may squeeze the client area to nothing.
    const QMargins margins = contentsMargins();
    return {margins.left() + margins.right(), margins.top() + margins.bottom()};
}

Qt::Orientations TDockLayout::expandingDirections() const
{
    return Qt::Horizontal | Qt::Vertical;
}

void TDockLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    QRect area = contentsRect();
    if (FAdjuster)
        area = FAdjuster(area);
    place(area);
}

bool TDockLayout::eventFilter(QObject* watched, QEvent* event)
{
    // A programmatic resize of an edge widget changes what remains for the others.
    if (event->type() == QEvent::Resize && !FPlacing) {
        const Entry* entry = find(qobject_cast<QWidget*>(watched));
        if (entry && isEdge(entry->align))
            invalidate();
    }
    return QLayout::eventFilter(watched, event);
}

TDockLayout::Entry* TDockLayout::find(const QWidget* widget)
{
    const auto& self = *this;
    return const_cast<Entry*>(self.find(widget));
}

const TDockLayout::Entry* TDockLayout::find(const QWidget* widget) const
{
    if (!widget)
        return nullptr;
    const auto it = std::find_if(FEntries.begin(), FEntries.end(),
                                 [widget](const Entry& entry) { return entry.item->widget() == widget; });
    return it == FEntries.end() ? nullptr : &*it;
}

void TDockLayout::append(QLayoutItem* item, TAlign align)
{
    FEntries.push_back({std::unique_ptr<QLayoutItem>(item), align});
    // Never removed again: a widget may be half destroyed when the layout lets go of it.
    // The filter ignores widgets the layout no longer holds.
    if (QWidget* widget = item->widget())
        widget->installEventFilter(this);
    invalidate();
}

void TDockLayout::place(QRect area)
{
    const QScopedValueRollback placing(FPlacing, true);
    int left = area.left();
    int top = area.top();
    int right = left + area.width();
    int bottom = top + area.height();
    for (const TAlign kind : kPlacementOrder) {
        for (const Entry& entry : FEntries) {
            if (entry.align != kind || entry.item->isEmpty())
                continue;
            QLayoutItem* item = entry.item.get();
            const QSize size = currentSize(item);
            switch (kind) {
            case alTop:
                applyGeometry(item, left, top, right - left, size.height());
                top += size.height();
                break;
            case alBottom:
                applyGeometry(item, left, bottom - size.height(), right - left, size.height());
                bottom -= size.height();
                break;
            case alLeft:
                applyGeometry(item, left, top, size.width(), bottom - top);
                left += size.width();
                break;
            case alRight:
                applyGeometry(item, right - size.width(), top, size.width(), bottom - top);
                right -= size.width();
                break;
            case alClient:
                applyGeometry(item, left, top, right - left, bottom - top);
                break;
            case alNone:
                break;
            }
        }
    }
}

void TDockLayout::syncWidget(QWidget* widget, TAlign align)
{
    // A floating panel knows its own alignment: its bar depends on it.
    if (auto* panel = qobject_cast<TFloatingPanel*>(widget))
        panel->SetAlign(align);
}
