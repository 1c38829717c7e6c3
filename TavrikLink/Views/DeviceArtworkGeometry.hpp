#pragma once

#include "TavrikLink/Usb/UsbOnboardingTarget.hpp"

#include <QPointF>

#include <array>
#include <string>

namespace tavrik {

// The sizes and shapes of the device choice cards' artwork, kept apart from the widgets that draw
// them so they can be checked without a screen.
struct DeviceArtworkGeometry {
    static constexpr double cardHeight = 146;
    static constexpr double cardPadding = 10;
    static constexpr double cardSpacing = 8;
    static constexpr double cardCornerRadius = 8;
    static constexpr double artworkHeight = 94;
    static constexpr double imageScale = 0.93;
    static constexpr double fallbackSymbolSize = 54;
    static constexpr double questionMarkWidth = 30;
    static constexpr double questionMarkHeight = 46;
    static constexpr double questionMarkDotSize = 2;
    static constexpr double questionMarkLineWidth = 0.75;

    struct Cubic {
        QPointF control1;
        QPointF control2;
        QPointF end;
    };
    // The open hook of the question mark in a width x height box, from the box's own top-left corner.
    struct Stem {
        QPointF start;
        std::array<Cubic, 4> curves;
    };

    static Stem questionMarkStem(double width, double height);
    static QPointF questionMarkDotCentre(double width, double height);

    // The board picture's resource: DeviceImages/<name>.png among the program's resources.
    static std::string artworkResourceName(UsbOnboardingTarget target);
    static std::string artworkRelativePath(UsbOnboardingTarget target);
};

} // namespace tavrik
