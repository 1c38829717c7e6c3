#include "TavrikLink/Ui/ScheduleCompactRow.hpp"

#include "TavrikLink/Ui/Popover.hpp"
#include "TavrikLink/Ui/SymbolIcon.hpp"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace tavrik {

namespace {

const QString roundedFrameStyle
    = QStringLiteral("#%1 { background: palette(base); border: 1px solid palette(mid); border-radius: 8px; }");

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

ScheduleCompactRow::ScheduleCompactRow(ScheduleRowPresenter model, QWidget* parent)
    : QFrame(parent)
    , row(std::move(model))
{
    setObjectName(QStringLiteral("scheduleRow%1").arg(row.schedule().id));
    setStyleSheet(roundedFrameStyle.arg(objectName()));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(12);
    bell = new QLabel(this);
    bell->setObjectName(QStringLiteral("scheduleBell"));
    bell->setFixedWidth(20);
    bell->setAlignment(Qt::AlignCenter);
    layout->addWidget(bell);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    time = new QLabel(this);
    time->setObjectName(QStringLiteral("scheduleTime"));
    QFont headline = time->font();
    headline.setBold(true);
    time->setFont(headline);
    texts->addWidget(time);
    days = new QLabel(this);
    days->setObjectName(QStringLiteral("scheduleDays"));
    QFont caption = days->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    days->setFont(caption);
    days->setForegroundRole(QPalette::PlaceholderText);
    texts->addWidget(days);
    layout->addLayout(texts);
    layout->addStretch();
    edit = new QPushButton(QStringLiteral("Edit"), this);
    edit->setObjectName(QStringLiteral("editSchedule"));
    edit->setFlat(true);
    layout->addWidget(edit);
    remove = new QToolButton(this);
    remove->setObjectName(QStringLiteral("deleteSchedule"));
    remove->setAutoRaise(true);
    remove->setIcon(symbolIcon(QStringLiteral("trash")));
    remove->setToolTip(QStringLiteral("Delete"));
    layout->addWidget(remove);

    connect(edit, &QPushButton::clicked, this, &ScheduleCompactRow::presentEditor);
    connect(remove, &QToolButton::clicked, this, [this] { row.requestDelete(); });
    redraw();
}

ScheduleCompactRow::~ScheduleCompactRow()
{
    delete popover;
}

void ScheduleCompactRow::setSchedule(const ScheduledRoutine& schedule)
{
    row.setSchedule(schedule);
    redraw();
}

bool ScheduleCompactRow::isEditorPresented() const
{
    return popover && popover->isVisible();
}

void ScheduleCompactRow::presentEditor()
{
    if (!popover) {
        buildEditor();
    }
    redrawEditor();
    placePopover(popover, edit);
    popover->show();
}

void ScheduleCompactRow::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (isEditorPresented()) {
        placePopover(popover, edit);
    }
}

QPushButton* ScheduleCompactRow::kindButton(ScheduleKind kind) const
{
    return kind == ScheduleKind::single ? once : repeats;
}

void ScheduleCompactRow::buildEditor()
{
    // A popup closes itself when the user clicks outside it; nothing else happens on closing.
    popover = new QFrame(this, Qt::Popup);
    popover->setObjectName(QStringLiteral("scheduleEditorPopover"));
    popover->setMinimumWidth(520);
    auto* outer = new QVBoxLayout(popover);
    outer->setContentsMargins(12, 12, 12, 12);
    auto* editorFrame = new QFrame(popover);
    editorFrame->setObjectName(QStringLiteral("scheduleInlineEditor"));
    editorFrame->setStyleSheet(roundedFrameStyle.arg(editorFrame->objectName()));
    outer->addWidget(editorFrame);
    auto* form = new QVBoxLayout(editorFrame);
    form->setContentsMargins(12, 12, 12, 12);
    form->setSpacing(10);

    auto* controls = new QHBoxLayout;
    controls->setSpacing(12);
    auto* segments = new QWidget(editorFrame);
    segments->setFixedWidth(150);
    auto* segmentLayout = new QHBoxLayout(segments);
    segmentLayout->setContentsMargins(0, 0, 0, 0);
    segmentLayout->setSpacing(0);
    kinds = new QButtonGroup(segments);
    kinds->setExclusive(true);
    for (ScheduleKind kind : allScheduleKinds) {
        auto* button = new QPushButton(
            kind == ScheduleKind::recurring ? QStringLiteral("Repeats") : QStringLiteral("Once"), segments);
        button->setCheckable(true);
        button->setObjectName(
            kind == ScheduleKind::recurring ? QStringLiteral("kindRepeats") : QStringLiteral("kindOnce"));
        kinds->addButton(button, static_cast<int>(kind));
        segmentLayout->addWidget(button);
        (kind == ScheduleKind::recurring ? repeats : once) = button;
    }
    controls->addWidget(segments);
    date = new QDateEdit(editorFrame);
    date->setObjectName(QStringLiteral("scheduleDate"));
    date->setCalendarPopup(true);
    date->setAccessibleName(QStringLiteral("Date"));
    controls->addWidget(date);
    auto* timeFields = new QHBoxLayout;
    timeFields->setSpacing(8);
    hour = new QLineEdit(editorFrame);
    hour->setObjectName(QStringLiteral("scheduleHour"));
    hour->setPlaceholderText(qs(ScheduleRowPresenter::hourPlaceholder));
    hour->setFixedWidth(56);
    timeFields->addWidget(hour);
    auto* colon = new QLabel(QStringLiteral(":"), editorFrame);
    colon->setForegroundRole(QPalette::PlaceholderText);
    timeFields->addWidget(colon);
    minute = new QLineEdit(editorFrame);
    minute->setObjectName(QStringLiteral("scheduleMinute"));
    minute->setPlaceholderText(qs(ScheduleRowPresenter::minutePlaceholder));
    minute->setFixedWidth(56);
    timeFields->addWidget(minute);
    controls->addLayout(timeFields);
    enabled = new QCheckBox(QStringLiteral("Enabled"), editorFrame);
    enabled->setObjectName(QStringLiteral("scheduleEnabled"));
    controls->addWidget(enabled);
    controls->addStretch();
    form->addLayout(controls);

    weekdays = new QWidget(editorFrame);
    auto* dayColumn = new QVBoxLayout(weekdays);
    dayColumn->setContentsMargins(0, 0, 0, 0);
    dayColumn->setSpacing(6);
    auto* dayRow = new QHBoxLayout;
    dayRow->setSpacing(8);
    for (std::size_t index = 0; index < ScheduleRowPresenter::weekDayNames.size(); ++index) {
        auto* button = new QPushButton(qs(ScheduleRowPresenter::weekDayNames[index]), weekdays);
        button->setObjectName(QStringLiteral("day%1").arg(index));
        button->setFixedSize(36, 36);
        button->setFlat(true);
        dayRow->addWidget(button);
        dayButtons[index] = button;
        connect(button, &QPushButton::clicked, this, [this, index] { row.toggleDay(static_cast<int>(index)); });
    }
    dayRow->addStretch();
    dayColumn->addLayout(dayRow);
    noDay = new QLabel(qs(ScheduleRowPresenter::noDayMessage), weekdays);
    QFont caption = noDay->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    noDay->setFont(caption);
    noDay->setStyleSheet(QStringLiteral("color: #d70015;"));
    dayColumn->addWidget(noDay);
    form->addWidget(weekdays);

    connect(kinds, &QButtonGroup::idClicked, this, [this](int id) {
        if (!redrawing) {
            row.chooseKind(static_cast<ScheduleKind>(id));
        }
    });
    connect(date, &QDateEdit::dateChanged, this, [this](QDate day) {
        if (!redrawing && day.isValid()) {
            row.chooseDate(day.year(), day.month(), day.day());
        }
    });
    connect(hour, &QLineEdit::editingFinished, this, [this] { commitTime(hour, true); });
    connect(minute, &QLineEdit::editingFinished, this, [this] { commitTime(minute, false); });
    connect(enabled, &QCheckBox::toggled, this, [this](bool on) {
        if (!redrawing) {
            row.setEnabled(on);
        }
    });
}

void ScheduleCompactRow::commitTime(QLineEdit* field, bool isHour)
{
    if (!field->isModified()) {
        return;
    }
    field->setModified(false);
    const std::string text = field->text().toStdString();
    if (isHour) {
        row.commitHour(text);
    } else {
        row.commitMinute(text);
    }
    // Unreadable text changes nothing: the field shows the schedule again.
    redrawEditor();
}

void ScheduleCompactRow::redraw()
{
    const bool on = row.isEnabled();
    const QColor colour = on ? palette().color(QPalette::Highlight) : palette().color(QPalette::PlaceholderText);
    bell->setPixmap(symbolIcon(on ? QStringLiteral("bell.fill") : QStringLiteral("bell.slash"), colour).pixmap(16, 16));
    bell->setToolTip(qs(row.bellHelp()));
    bell->setAccessibleName(bell->toolTip());
    time->setText(QString::fromStdString(row.timeText()));
    days->setText(QString::fromStdString(row.daysDescription()));
    if (popover) {
        redrawEditor();
    }
}

void ScheduleCompactRow::redrawEditor()
{
    redrawing = true;
    const ScheduleKind kind = row.kind();
    kindButton(kind)->setChecked(true);
    date->setVisible(row.showsDatePicker());
    if (row.showsDatePicker()) {
        const ScheduleDateParts parts = row.date();
        date->setDate(QDate(static_cast<int>(parts.year), static_cast<int>(parts.month), static_cast<int>(parts.day)));
    }
    for (auto [field, text] : { std::pair { hour, row.hourText() }, std::pair { minute, row.minuteText() } }) {
        // A field the user is typing in keeps the typing.
        if (!(field->hasFocus() && field->isModified())) {
            field->setText(QString::fromStdString(text));
            field->setModified(false);
        }
    }
    enabled->setChecked(row.isEnabled());
    weekdays->setVisible(row.showsWeekdayPicker());
    const std::set<int> chosen = row.selectedDays();
    for (std::size_t index = 0; index < dayButtons.size(); ++index) {
        const bool on = chosen.contains(static_cast<int>(index));
        dayButtons[index]->setStyleSheet(on
                ? QStringLiteral("QPushButton { border-radius: 18px; background: palette(highlight); color: white; }")
                : QStringLiteral("QPushButton { border-radius: 18px; background: rgba(128, 128, 128, 77); color: "
                                 "palette(window-text); }"));
    }
    noDay->setVisible(row.showsNoDayMessage());
    // A change of kind changes the editor's size; it stays inside the screen.
    placePopover(popover, edit);
    redrawing = false;
}

} // namespace tavrik
