#include "TavrikLink/Ui/SheetSupport.hpp"

#include "TavrikLink/Ui/DeferredIcon.hpp"

#include <QDialog>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLayout>
#include <QPushButton>

namespace tavrik {

QIcon symbolIcon(const QString& symbol)
{
    static const QHash<QString, QString> themeNames {
        { QStringLiteral("trash"), QStringLiteral("edit-delete") },
        { QStringLiteral("plus"), QStringLiteral("list-add") },
        { QStringLiteral("play.fill"), QStringLiteral("media-playback-start") },
        { QStringLiteral("tag"), QStringLiteral("tag") },
        { QStringLiteral("clock"), QStringLiteral("chronometer") },
        { QStringLiteral("lock.fill"), QStringLiteral("object-locked") },
        { QStringLiteral("chevron.right"), QStringLiteral("go-next") },
    };
    const QString name = themeNames.value(symbol, symbol);
    return deferredIcon([name] { return QIcon::fromTheme(name); });
}

QBoxLayout* sheetHeader(QDialog* sheet, const QString& title, std::function<void()> onDelete, std::function<void()> onDone)
{
    auto* header = new QHBoxLayout();
    auto* heading = new QLabel(title, sheet);
    QFont font = heading->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.25);
    heading->setFont(font);
    header->addWidget(heading);
    header->addStretch();
    auto* remove = new QPushButton(symbolIcon(QStringLiteral("trash")), QStringLiteral("Delete"), sheet);
    remove->setObjectName(QStringLiteral("deleteButton"));
    remove->setAutoDefault(false);
    QPalette palette = remove->palette();
    palette.setColor(QPalette::ButtonText, QColor(200, 30, 30));
    remove->setPalette(palette);
    QObject::connect(remove, &QPushButton::clicked, sheet, [onDelete = std::move(onDelete)] { onDelete(); });
    header->addWidget(remove);
    auto* done = new QPushButton(QStringLiteral("Done"), sheet);
    done->setObjectName(QStringLiteral("doneButton"));
    done->setDefault(true);
    QObject::connect(done, &QPushButton::clicked, sheet, [onDone = std::move(onDone)] { onDone(); });
    header->addWidget(done);
    return header;
}

void fitSheetToContent(QWidget* sheet)
{
    QLayout* layout = sheet->layout();
    if (!layout) {
        return;
    }
    layout->invalidate();
    layout->activate();
    const int height
        = layout->hasHeightForWidth() ? layout->totalHeightForWidth(sheet->width()) : layout->totalSizeHint().height();
    if (height != sheet->height()) {
        sheet->resize(sheet->width(), height);
    }
}

QLabel* validationLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QStringLiteral("validationMessage"));
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(200, 30, 30));
    label->setPalette(palette);
    label->setWordWrap(true);
    label->hide();
    return label;
}

} // namespace tavrik
