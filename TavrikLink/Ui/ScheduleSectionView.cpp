#include "TavrikLink/Ui/ScheduleSectionView.hpp"

#include "TavrikLink/Ui/ScheduleCompactRow.hpp"
#include "TavrikLink/Ui/SymbolIcon.hpp"
#include "TavrikLink/Views/ScheduleSectionModel.hpp"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace tavrik {

namespace {

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

ScheduleSectionView::ScheduleSectionView(ScheduleSectionModel* model, QWidget* parent)
    : QWidget(parent)
    , section(model)
{
    section->setParent(this);
    setObjectName(QStringLiteral("scheduleSection"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    auto* header = new QHBoxLayout;
    newTitle = new QLabel(qs(ScheduleSectionModel::newRoutineTitle), this);
    QFont headline = newTitle->font();
    headline.setBold(true);
    newTitle->setFont(headline);
    header->addWidget(newTitle);
    header->addStretch();
    addStartTag = new QToolButton(this);
    addStartTag->setObjectName(QStringLiteral("addStartTag"));
    addStartTag->setText(QStringLiteral("Add Start Tag"));
    addStartTag->setIcon(symbolIcon(QStringLiteral("plus")));
    addStartTag->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    addStartTag->setPopupMode(QToolButton::InstantPopup);
    header->addWidget(addStartTag);
    addSchedule = new QPushButton(symbolIcon(QStringLiteral("plus")), QStringLiteral("Add Schedule"), this);
    addSchedule->setObjectName(QStringLiteral("addSchedule"));
    header->addWidget(addSchedule);
    layout->addLayout(header);
    newHint = new QLabel(qs(ScheduleSectionModel::newRoutineHint), this);
    newHint->setForegroundRole(QPalette::PlaceholderText);
    newHint->setWordWrap(true);
    layout->addWidget(newHint);

    startTagBlock = new QWidget(this);
    auto* startTags = new QVBoxLayout(startTagBlock);
    startTags->setContentsMargins(0, 0, 0, 0);
    startTags->setSpacing(8);
    auto* startTitle = new QLabel(qs(ScheduleSectionModel::startTagTitle), startTagBlock);
    startTitle->setFont(headline);
    startTags->addWidget(startTitle);
    startTagIntro = new QLabel(startTagBlock);
    QFont caption = startTagIntro->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    startTagIntro->setFont(caption);
    startTagIntro->setForegroundRole(QPalette::PlaceholderText);
    startTagIntro->setWordWrap(true);
    startTags->addWidget(startTagIntro);
    chips = new QGridLayout;
    chips->setHorizontalSpacing(8);
    chips->setVerticalSpacing(8);
    startTags->addLayout(chips);
    layout->addWidget(startTagBlock);

    error = new QLabel(this);
    error->setObjectName(QStringLiteral("scheduleError"));
    error->setStyleSheet(QStringLiteral("color: #d70015;"));
    error->setWordWrap(true);
    layout->addWidget(error);

    list = new QWidget;
    listLayout = new QVBoxLayout(list);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(10);
    listLayout->addStretch();
    scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("scheduleScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scroll->setMaximumHeight(ScheduleSectionModel::scrollMaximumHeight);
    listHost = new QVBoxLayout;
    listHost->setContentsMargins(0, 0, 0, 0);
    listHost->addWidget(list);
    listHost->addWidget(scroll);
    layout->addLayout(listHost);
    // Extra height goes below the content, never between its rows.
    layout->addStretch();

    connect(addSchedule, &QPushButton::clicked, this, [this] { section->addSchedule(); });
    connect(section, &ScheduleSectionModel::changed, this, &ScheduleSectionView::redraw);
    connect(section, &ScheduleSectionModel::deleteRequested, this, &ScheduleSectionView::askToDelete);
    redraw();
}

ScheduleCompactRow* ScheduleSectionView::row(std::uint32_t scheduleId) const
{
    const auto found = shownRows.find(scheduleId);
    return found == shownRows.end() ? nullptr : found->second;
}

std::vector<ScheduleCompactRow*> ScheduleSectionView::rows() const
{
    std::vector<ScheduleCompactRow*> result;
    for (int index = 0; index < listLayout->count(); ++index) {
        if (auto* shown = qobject_cast<ScheduleCompactRow*>(listLayout->itemAt(index)->widget())) {
            result.push_back(shown);
        }
    }
    return result;
}

void ScheduleSectionView::redraw()
{
    using Mode = ScheduleSectionModel::Mode;
    const Mode mode = section->mode();
    setVisible(mode != Mode::none);
    const bool stored = mode == Mode::storedRoutine;
    newTitle->setVisible(!stored);
    newHint->setVisible(!stored);
    addSchedule->setEnabled(section->canAddSchedule());
    const auto& tags = section->startTags();
    addStartTag->setEnabled(stored && tags.canAdd);
    addStartTag->setToolTip(stored ? QString::fromStdString(tags.addHelp) : QString());
    redrawStartTags();
    const auto& message = section->scheduleError();
    error->setVisible(stored && message.has_value());
    error->setText(QString::fromStdString(message.value_or(std::string())));
    redrawRows();
}

void ScheduleSectionView::redrawStartTags()
{
    const auto& tags = section->startTags();
    const bool stored = section->mode() == ScheduleSectionModel::Mode::storedRoutine;
    auto* menu = addStartTag->menu();
    if (!menu) {
        menu = new QMenu(addStartTag);
        addStartTag->setMenu(menu);
    }
    menu->clear();
    menu->addSection(QStringLiteral("Choose a start tag"));
    for (const TagInfo& tag : tags.available) {
        const std::uint32_t id = tag.id;
        menu->addAction(QString::fromStdString(tag.name), this, [this, id] {
            if (section->startTags().add) {
                section->startTags().add(id);
            }
        });
    }

    while (QLayoutItem* item = chips->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    startTagBlock->setVisible(stored && !tags.assigned.empty());
    startTagIntro->setText(QString::fromStdString(section->startTagIntro()));
    const int columns = std::max(1, (width() + 8) / (180 + 8));
    int index = 0;
    for (const TagInfo& tag : tags.assigned) {
        auto* chip = new QFrame(startTagBlock);
        chip->setObjectName(QStringLiteral("startTagChip"));
        chip->setStyleSheet(QStringLiteral("#startTagChip { background: palette(base); border-radius: 8px; }"));
        auto* chipLayout = new QHBoxLayout(chip);
        chipLayout->setContentsMargins(10, 7, 10, 7);
        chipLayout->setSpacing(8);
        auto* symbol = new QLabel(chip);
        symbol->setPixmap(
            symbolIcon(QStringLiteral("tag.fill"), palette().color(QPalette::PlaceholderText)).pixmap(14, 14));
        chipLayout->addWidget(symbol);
        chipLayout->addWidget(new QLabel(QString::fromStdString(tag.name), chip));
        chipLayout->addStretch();
        chipLayout->addSpacing(4);
        auto* removeTag = new QToolButton(chip);
        removeTag->setAutoRaise(true);
        removeTag->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill"), palette().color(QPalette::PlaceholderText)));
        removeTag->setToolTip(QString::fromStdString(ScheduleSectionModel::removeStartTagHelp(tag)));
        const std::uint32_t id = tag.id;
        connect(removeTag, &QToolButton::clicked, this, [this, id] {
            if (section->startTags().requestRemove) {
                section->startTags().requestRemove(id);
            }
        });
        chipLayout->addWidget(removeTag);
        chip->setMinimumWidth(180);
        chips->addWidget(chip, index / columns, index % columns);
        ++index;
    }
}

void ScheduleSectionView::redrawRows()
{
    const std::vector<ScheduledRoutine> schedules = section->routineSchedules();
    for (auto it = shownRows.begin(); it != shownRows.end();) {
        const bool kept = std::any_of(schedules.begin(), schedules.end(),
            [&](const ScheduledRoutine& schedule) { return schedule.id == it->first; });
        if (kept) {
            ++it;
        } else {
            listLayout->removeWidget(it->second);
            it->second->deleteLater();
            it = shownRows.erase(it);
        }
    }
    int position = 0;
    for (const ScheduledRoutine& schedule : schedules) {
        ScheduleCompactRow* shown = row(schedule.id);
        if (!shown) {
            shown = new ScheduleCompactRow(
                ScheduleRowModel(schedule, section->rowActions(schedule.id), section->clock()), list);
            shownRows[schedule.id] = shown;
        } else {
            shown->setSchedule(schedule);
            listLayout->removeWidget(shown);
        }
        listLayout->insertWidget(position++, shown);
    }
    // Two rows or fewer stand in the column; more sit in a scroll view.
    const bool scrolling = section->usesScrollView();
    if (scrolling && scroll->widget() != list) {
        listHost->removeWidget(list);
        scroll->setWidget(list);
    } else if (!scrolling && scroll->widget() == list) {
        scroll->takeWidget();
        list->setParent(this);
        listHost->insertWidget(0, list);
    }
    list->setVisible(true);
    scroll->setVisible(scrolling);
    if (scrolling) {
        scroll->setMinimumHeight(std::min(ScheduleSectionModel::scrollMaximumHeight, list->sizeHint().height()));
    }
}

void ScheduleSectionView::askToDelete(std::uint32_t scheduleId)
{
    const auto schedules = section->routineSchedules();
    const auto found = std::find_if(schedules.begin(), schedules.end(),
        [&](const ScheduledRoutine& schedule) { return schedule.id == scheduleId; });
    if (found == schedules.end()) {
        return;
    }
    const auto question = ScheduleSectionModel::deleteQuestion(*found);
    QMessageBox box(
        QMessageBox::Warning, QString(), QString::fromStdString(question.message), QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("deleteScheduleQuestion"));
    box.setInformativeText(QString::fromStdString(question.informativeText));
    QPushButton* confirm = box.addButton(QString::fromStdString(question.confirmButton), QMessageBox::AcceptRole);
    box.addButton(QString::fromStdString(question.cancelButton), QMessageBox::RejectRole);
    box.setDefaultButton(confirm);
    box.exec();
    section->confirmDeleteSchedule(scheduleId, box.clickedButton() == confirm);
}

} // namespace tavrik
