#pragma once

#include <QLabel>

namespace tavrik {

// A one-line label that shortens its text with "…" to the width it is given; text() stays whole.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    ElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent = nullptr);

    // The text as drawn at the present width.
    QString shownText() const;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode mode;
};

} // namespace tavrik
