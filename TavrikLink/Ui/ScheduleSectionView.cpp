#include "TavrikLink/Ui/ScheduleSectionView.hpp"

#include "TavrikLink/Ui/AdaptiveGridLayout.hpp"
#include "TavrikLink/Ui/ElidedLabel.hpp"
#include "TavrikLink/Ui/ScheduleCompactRow.hpp"
#include "TavrikLink/Ui/StartTagPicker.hpp"
#include "TavrikLink/Ui/SymbolIcon.hpp"
#include "TavrikLink/Views/ScheduleSectionPresenter.hpp"
#include "TavrikLink/Views/StartTagPickerPresenter.hpp"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
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

ScheduleSectionView::ScheduleSectionView(ScheduleSectionPresenter* model, QWidget* parent)
    : QWidget(parent)
    , section(model)
{
    section->setParent(this);
    setObjectName(QStringLiteral("scheduleSection"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    auto* header = new QHBoxLayout;
    newTitle = new QLabel(qs(ScheduleSectionPresenter::newRoutineTitle), this);
    QFont headline = newTitle->font();
    headline.setBold(true);
    newTitle->setFont(headline);
    header->addWidget(newTitle);
    header->addStretch();
    picker = new StartTagPickerPresenter(
        StartTagPickerPresenter::TagSource([this] {
            const auto& source = section->startTags().available;
            return source ? source() : std::vector<TagInfo> {};
        }),
        [this](std::uint32_t id) {
            if (section->startTags().add) {
                section->startTags().add(id);
            }
        },
        this);
    addStartTag = new StartTagPicker(*picker, this);
    addStartTag->setObjectName(QStringLiteral("addStartTag"));
    header->addWidget(addStartTag);
    addSchedule = new QPushButton(symbolIcon(QStringLiteral("plus")), QStringLiteral("Add Schedule"), this);
    addSchedule->setObjectName(QStringLiteral("addSchedule"));
    header->addWidget(addSchedule);
    layout->addLayout(header);
    newHint = new QLabel(qs(ScheduleSectionPresenter::newRoutineHint), this);
    newHint->setForegroundRole(QPalette::PlaceholderText);
    newHint->setWordWrap(true);
    layout->addWidget(newHint);

    startTagBlock = new QWidget(this);
    auto* startTags = new QVBoxLayout(startTagBlock);
    startTags->setContentsMargins(0, 0, 0, 0);
    startTags->setSpacing(8);
    auto* startTitle = new QLabel(qs(ScheduleSectionPresenter::startTagTitle), startTagBlock);
    startTitle->setFont(headline);
    startTags->addWidget(startTitle);
    startTagIntro = new QLabel(startTagBlock);
    QFont caption = startTagIntro->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    startTagIntro->setFont(caption);
    startTagIntro->setForegroundRole(QPalette::PlaceholderText);
    startTagIntro->setWordWrap(true);
    startTags->addWidget(startTagIntro);
    chips = new AdaptiveGridLayout(180, 8);
    startTags->addLayout(chips);
    layout->addWidget(startTagBlock);

    error = new QLabel(this);
    error->setObjectName(QStringLiteral("scheduleError"));
    error->setStyleSheet(QStringLiteral("color: #d70015;"));
    error->setWordWrap(true);
    layout->addWidget(error);

    listLayout = new QVBoxLayout;
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(10);
    layout->addLayout(listLayout);
    // Extra height goes below the content, never between its rows.
    layout->addStretch();

    connect(addSchedule, &QPushButton::clicked, this, [this] { section->addSchedule(); });
    connect(section, &ScheduleSectionPresenter::changed, this, &ScheduleSectionView::redraw);
    redraw();
}

ScheduleSectionView::~ScheduleSectionView()
{
    // The picker's popover reads the presenter until it goes.
    delete addStartTag;
}

QToolButton* ScheduleSectionView::addStartTagButton() const
{
    return addStartTag;
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

std::vector<QWidget*> ScheduleSectionView::startTagChips() const
{
    std::vector<QWidget*> result;
    result.reserve(static_cast<std::size_t>(chips->count()));
    for (int index = 0; index < chips->count(); ++index) {
        result.push_back(chips->itemAt(index)->widget());
    }
    return result;
}

void ScheduleSectionView::redraw()
{
    using Mode = ScheduleSectionPresenter::Mode;
    const Mode mode = section->mode();
    setVisible(mode != Mode::none);
    const bool stored = mode == Mode::storedRoutine;
    newTitle->setVisible(!stored);
    newHint->setVisible(!stored);
    addSchedule->setEnabled(section->canAddSchedule());
    const auto& tags = section->startTags();
    addStartTag->setEnabled(stored && tags.canAdd);
    addStartTag->setToolTip(stored ? QString::fromStdString(tags.addHelp) : QString());
    if (!addStartTag->isEnabled()) {
        picker->dismiss();
    }
    picker->refresh();
    redrawStartTags();
    const auto& message = section->scheduleError();
    error->setVisible(stored && message.has_value());
    error->setText(QString::fromStdString(message.value_or(std::string())));
    redrawRows();
}

void ScheduleSectionView::redrawStartTags()
{
    const auto& tags = section->startTags();
    const bool stored = section->mode() == ScheduleSectionPresenter::Mode::storedRoutine;
    startTagBlock->setVisible(stored && !tags.assigned.empty());
    startTagIntro->setText(QString::fromStdString(section->startTagIntro()));
    // A chip is rebuilt only when the tags change: one of them may hold the button being clicked.
    if (tags.assigned == shownChips) {
        return;
    }
    shownChips = tags.assigned;
    while (QLayoutItem* item = chips->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    for (const TagInfo& tag : tags.assigned) {
        auto* chip = new QFrame(startTagBlock);
        chip->setObjectName(QStringLiteral("startTagChip"));
        chip->setStyleSheet(QStringLiteral("#startTagChip { background: palette(base); border-radius: 8px; }"));
        const QString name = QString::fromStdString(tag.name);
        chip->setToolTip(name);
        auto* chipLayout = new QHBoxLayout(chip);
        chipLayout->setContentsMargins(10, 7, 10, 7);
        chipLayout->setSpacing(8);
        auto* symbol = new QLabel(chip);
        symbol->setPixmap(symbolIcon(QStringLiteral("tag.fill"), secondary).pixmap(14, 14));
        chipLayout->addWidget(symbol);
        // Names that share their start keep their ends in sight.
        chipLayout->addWidget(new ElidedLabel(name, Qt::ElideMiddle, chip), 1);
        chipLayout->addSpacing(4);
        auto* removeTag = new QToolButton(chip);
        removeTag->setAutoRaise(true);
        removeTag->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill"), secondary));
        removeTag->setToolTip(QString::fromStdString(ScheduleSectionPresenter::removeStartTagHelp(tag)));
        const std::uint32_t id = tag.id;
        connect(removeTag, &QToolButton::clicked, this, [this, id] {
            if (section->startTags().requestRemove) {
                section->startTags().requestRemove(id);
            }
        });
        chipLayout->addWidget(removeTag);
        chips->addWidget(chip);
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
                ScheduleRowPresenter(schedule, section->rowActions(schedule.id), section->clock()), this);
            shownRows[schedule.id] = shown;
        } else {
            shown->setSchedule(schedule);
            listLayout->removeWidget(shown);
        }
        listLayout->insertWidget(position++, shown);
    }
}

} // namespace tavrik
