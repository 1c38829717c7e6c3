#include "TavrikLink/Ui/DeferredIcon.hpp"

#include <QIconEngine>
#include <QPainter>

#include <optional>

namespace tavrik {

namespace {

// Forwards to the icon its function gives, asked for when the icon is first drawn or measured.
class DeferredIconEngine final : public QIconEngine {
public:
    explicit DeferredIconEngine(std::function<QIcon()> resolve)
        : resolve(std::move(resolve))
    {
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& wanted, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(wanted, mode, state);
    }
    QPixmap scaledPixmap(const QSize& wanted, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        return icon().pixmap(wanted, scale, mode, state);
    }
    QSize actualSize(const QSize& wanted, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(wanted, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    QString iconName() override { return icon().name(); }
    // Asked by a shown button's size hint, so a visible button measures as with the icon itself.
    bool isNull() override { return icon().isNull(); }
    QString key() const override { return QStringLiteral("tavrik-deferred"); }
    QIconEngine* clone() const override
    {
        auto* copy = new DeferredIconEngine(resolve);
        copy->resolved = resolved;
        return copy;
    }

private:
    const QIcon& icon()
    {
        if (!resolved) {
            resolved = resolve();
        }
        return *resolved;
    }

    std::function<QIcon()> resolve;
    std::optional<QIcon> resolved;
};

} // namespace

QIcon deferredIcon(std::function<QIcon()> resolve)
{
    return QIcon(new DeferredIconEngine(std::move(resolve)));
}

} // namespace tavrik
