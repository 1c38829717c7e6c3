#pragma once

#include <QCoreApplication>
#include <QString>
#include <QWidget>

namespace tavrik::test {

// With TAVRIK_UI_SHOTS set to a folder, keeps a picture of the widget there to look at.
inline void saveUiShot(QWidget* widget, const QString& name)
{
    const QString folder = qEnvironmentVariable("TAVRIK_UI_SHOTS");
    if (!folder.isEmpty()) {
        QCoreApplication::processEvents();
        widget->grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
    }
}

} // namespace tavrik::test
