#pragma once

#include <QWidget>

class QTimer;

namespace tavrik {

// An indeterminate spinner, small (16 px) or large (32 px). It turns only while shown.
class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    enum class Size { small, large };
    explicit BusyIndicator(Size size, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int extent;
    int step = 0;
    QTimer* timer;
};

} // namespace tavrik
