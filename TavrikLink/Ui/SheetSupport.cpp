#include "TavrikLink/Ui/SheetSupport.hpp"

#include "TavrikLink/Ui/SymbolIcon.hpp"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>

namespace tavrik {

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
