#pragma once

#include <QLayout>
#include <QRect>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Edge alignment of the classic toolkit; the ordinals are the toolkit's own.
enum TAlign : std::uint8_t { alNone = 0, alTop, alBottom, alLeft, alRight, alClient };

// Places widgets against the edges of a rectangle the way the classic toolkit aligns
// controls: all top ones first (full width, their own height), then bottom, left and right
// ones (full remaining height, their own width), and client ones fill what is left. Within
// one alignment the order of insertion decides. Edge widgets keep the width or height they
// currently have, so resizing one of them hands the difference to the client widget.
// alNone widgets are left where they are.
class TDockLayout : public QLayout
{
    Q_OBJECT

public:
    // Runs before the children are placed and may shrink or move the rectangle they share.
    using RectAdjuster = std::function<QRect(const QRect& available)>;

    explicit TDockLayout(QWidget* parent = nullptr);
    ~TDockLayout() override;

    void addWidget(QWidget* widget, TAlign align);
    // Adds the widget when the layout does not hold it yet.
    void setAlign(QWidget* widget, TAlign align);
    // alNone for a widget the layout does not hold.
    TAlign align(QWidget* widget) const;

    void setRectAdjuster(RectAdjuster adjuster);

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    Qt::Orientations expandingDirections() const override;
    void setGeometry(const QRect& rect) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry
    {
        std::unique_ptr<QLayoutItem> item;
        TAlign align;
    };

    Entry* find(const QWidget* widget);
    const Entry* find(const QWidget* widget) const;
    void append(QLayoutItem* item, TAlign align);
    void place(QRect area);
    static void syncWidget(QWidget* widget, TAlign align);

    std::vector<Entry> FEntries;
    RectAdjuster FAdjuster;
    bool FPlacing = false;
};
