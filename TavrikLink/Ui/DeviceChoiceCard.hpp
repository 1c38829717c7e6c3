#pragma once

#include "TavrikLink/Usb/UsbOnboardingTarget.hpp"

#include <QAbstractButton>
#include <QImage>

#include <optional>

namespace tavrik {

// The board's picture from the program's resources; none when it is missing or unreadable.
// Read afresh each time, nothing is cached.
std::optional<QImage> deviceArtworkImage(UsbOnboardingTarget target);

// A selectable card of the USB model picker: artwork above a caption, 146 points high, a 2-point
// accent border when selected and a faint 1-point one otherwise. The caller decides the selection;
// a click calls `onSelect` once and changes nothing by itself.
class DeviceChoiceCard : public QAbstractButton {
    Q_OBJECT
public:
    // A board card for `target`.
    DeviceChoiceCard(UsbOnboardingTarget target, bool isSelected, QWidget* parent = nullptr);
    void setSelected(bool selected);
    bool isSelected() const { return selected; }
    const std::optional<UsbOnboardingTarget>& target() const { return cardTarget; }
    // What the artwork slot shows: the board picture, the fallback symbol or the question mark.
    enum class Artwork { picture, fallbackSymbol, questionMark };
    Artwork artwork() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void selectRequested();

protected:
    // A card without a board: the "Other" card.
    explicit DeviceChoiceCard(bool isSelected, QWidget* parent = nullptr);
    void paintEvent(QPaintEvent* event) override;
    void nextCheckState() override;

private:
    void paintArtwork(QPainter& painter, const QRectF& slot) const;

    std::optional<UsbOnboardingTarget> cardTarget;
    bool selected = false;
    std::optional<QImage> image;
};

// The card for any board the program cannot set up, with a drawn question mark.
class OtherDeviceChoiceCard : public DeviceChoiceCard {
    Q_OBJECT
public:
    explicit OtherDeviceChoiceCard(bool isSelected, QWidget* parent = nullptr)
        : DeviceChoiceCard(isSelected, parent)
    {
    }
};

} // namespace tavrik
