#include "TavrikLink/Ui/AdaptiveGridLayout.hpp"

#include <QWidget>

#include <algorithm>

namespace tavrik {

AdaptiveGridLayout::AdaptiveGridLayout(int minimumColumnWidth, int spacing, QWidget* parent)
    : QLayout(parent)
    , minimumColumnWidth(minimumColumnWidth)
    , gap(spacing)
{
    setContentsMargins(0, 0, 0, 0);
}

AdaptiveGridLayout::~AdaptiveGridLayout()
{
    while (QLayoutItem* item = takeAt(0)) {
        delete item;
    }
}

int AdaptiveGridLayout::columnsFor(int width) const
{
    return std::max(1, (width + gap) / (minimumColumnWidth + gap));
}

void AdaptiveGridLayout::addItem(QLayoutItem* item)
{
    items.append(item);
    invalidate();
}

int AdaptiveGridLayout::count() const
{
    return static_cast<int>(items.size());
}

QLayoutItem* AdaptiveGridLayout::itemAt(int index) const
{
    return index >= 0 && index < items.size() ? items.at(index) : nullptr;
}

QLayoutItem* AdaptiveGridLayout::takeAt(int index)
{
    if (index < 0 || index >= items.size()) {
        return nullptr;
    }
    QLayoutItem* item = items.takeAt(index);
    invalidate();
    return item;
}

Qt::Orientations AdaptiveGridLayout::expandingDirections() const
{
    return Qt::Horizontal;
}

bool AdaptiveGridLayout::hasHeightForWidth() const
{
    return true;
}

int AdaptiveGridLayout::heightForWidth(int width) const
{
    return arrange(QRect(0, 0, width, 0), false);
}

QSize AdaptiveGridLayout::sizeHint() const
{
    return { minimumColumnWidth, heightForWidth(minimumColumnWidth) };
}

QSize AdaptiveGridLayout::minimumSize() const
{
    int height = 0;
    for (const QLayoutItem* item : items) {
        height = std::max(height, item->minimumSize().height());
    }
    return { 0, height };
}

void AdaptiveGridLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int AdaptiveGridLayout::arrange(const QRect& rect, bool apply) const
{
    QList<QLayoutItem*> shown;
    std::copy_if(
        items.begin(), items.end(), std::back_inserter(shown), [](QLayoutItem* item) { return !item->isEmpty(); });
    if (shown.isEmpty()) {
        return 0;
    }
    const int columns = columnsFor(rect.width());
    const int columnWidth = std::max(0, (rect.width() - gap * (columns - 1)) / columns);
    int y = rect.y();
    for (qsizetype first = 0; first < shown.size(); first += columns) {
        const qsizetype last = std::min<qsizetype>(first + columns, shown.size());
        int rowHeight = 0;
        for (qsizetype index = first; index < last; ++index) {
            rowHeight = std::max(rowHeight, shown.at(index)->sizeHint().height());
        }
        if (apply) {
            for (qsizetype index = first; index < last; ++index) {
                const int column = static_cast<int>(index - first);
                shown.at(index)->setGeometry(QRect(rect.x() + column * (columnWidth + gap), y, columnWidth, rowHeight));
            }
        }
        y += rowHeight + gap;
    }
    return y - gap - rect.y();
}

} // namespace tavrik
