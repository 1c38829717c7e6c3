#pragma once

#include <QLayout>
#include <QList>

namespace tavrik {

// Items in as many equal columns as the width holds, each at least `minimumColumnWidth` wide (one
// column when even that does not fit), filled row by row; the columns follow every change of width.
class AdaptiveGridLayout : public QLayout {
public:
    AdaptiveGridLayout(int minimumColumnWidth, int spacing, QWidget* parent = nullptr);
    ~AdaptiveGridLayout() override;

    int columnsFor(int width) const;

    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

private:
    // Lays the items out in `rect` (only measures when `apply` is false) and gives the height used.
    int arrange(const QRect& rect, bool apply) const;

    QList<QLayoutItem*> items;
    int minimumColumnWidth;
    int gap;
};

} // namespace tavrik
