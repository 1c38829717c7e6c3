#include "TavrikLink/Views/DeviceArtworkGeometry.hpp"

namespace tavrik {

DeviceArtworkGeometry::Stem DeviceArtworkGeometry::questionMarkStem(double width, double height)
{
    const auto at = [&](double x, double y) { return QPointF(x * width, y * height); };
    return Stem { at(0.19, 0.30),
        { Cubic { at(0.19, 0.16), at(0.32, 0.08), at(0.50, 0.08) },
            Cubic { at(0.68, 0.08), at(0.81, 0.16), at(0.81, 0.30) },
            Cubic { at(0.81, 0.45), at(0.68, 0.51), at(0.58, 0.58) },
            Cubic { at(0.52, 0.62), at(0.50, 0.65), at(0.50, 0.70) } } };
}

QPointF DeviceArtworkGeometry::questionMarkDotCentre(double width, double height)
{
    return QPointF(0.5 * width, 0.88 * height);
}

std::string DeviceArtworkGeometry::artworkResourceName(UsbOnboardingTarget target)
{
    switch (target) {
    case UsbOnboardingTarget::m5StickCPlus2:
        return "m5-stickc-plus2";
    case UsbOnboardingTarget::lilyGoTEmbedCc1101:
        return "lilygo-t-embed-cc1101";
    }
    return {};
}

std::string DeviceArtworkGeometry::artworkRelativePath(UsbOnboardingTarget target)
{
    return "DeviceImages/" + artworkResourceName(target) + ".png";
}

} // namespace tavrik
