#include "TavrikLink/Views/ScheduleRowPresenter.hpp"

#include <QLocale>
#include <QString>

#include <algorithm>

namespace tavrik {

namespace {

QLocale localeFor(const std::string& localeId)
{
    return localeId.empty() ? QLocale::system() : QLocale(QString::fromStdString(localeId));
}

} // namespace

ScheduleRowPresenter::ScheduleRowPresenter(ScheduledRoutine schedule, Actions actions, const Clock& clock)
    : current(std::move(schedule))
    , actions(std::move(actions))
    , clock(clock)
{
}

ScheduleKind ScheduleRowPresenter::kind() const
{
    return current.isOneTime() ? ScheduleKind::single : ScheduleKind::recurring;
}

ScheduleDateParts ScheduleRowPresenter::date() const
{
    return scheduleDateParts(current.oneTimeDate(clock), clock);
}

std::string ScheduleRowPresenter::hourText() const
{
    return formatWholeNumber(current.hour, clock.localeId());
}

std::string ScheduleRowPresenter::minuteText() const
{
    return formatWholeNumber(current.minute, clock.localeId());
}

void ScheduleRowPresenter::chooseKind(ScheduleKind kind) const
{
    call(actions.onKindChange, kind);
}

void ScheduleRowPresenter::chooseDate(std::int64_t year, std::int64_t month, std::int64_t day) const
{
    const DateComponents components { clock.localeId(), clock.timeZoneId(), year, month, day, current.hour,
        current.minute, 0 };
    if (const auto moment = components.date()) {
        call(actions.onStartsAtChange, *moment);
    }
}

bool ScheduleRowPresenter::commitHour(std::string_view text) const
{
    const auto value = parseWholeNumber(text, clock.localeId());
    if (!value) {
        return false;
    }
    call(actions.onHourChange, std::clamp<std::int64_t>(*value, 0, 23));
    return true;
}

bool ScheduleRowPresenter::commitMinute(std::string_view text) const
{
    const auto value = parseWholeNumber(text, clock.localeId());
    if (!value) {
        return false;
    }
    call(actions.onMinuteChange, std::clamp<std::int64_t>(*value, 0, 59));
    return true;
}

void ScheduleRowPresenter::toggleDay(int index) const
{
    std::set<int> days = selectedDays();
    if (!days.erase(index)) {
        days.insert(index);
    }
    call(actions.onDaysChange, days);
}

void ScheduleRowPresenter::setEnabled(bool enabled) const
{
    call(actions.onEnabledChange, enabled);
}

void ScheduleRowPresenter::requestDelete() const
{
    call(actions.onDelete);
}

std::optional<std::int64_t> ScheduleRowPresenter::parseWholeNumber(std::string_view text, const std::string& localeId)
{
    const QString input = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).trimmed();
    bool ok = false;
    const qlonglong value = localeFor(localeId).toLongLong(input, &ok);
    if (!ok) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
}

std::string ScheduleRowPresenter::formatWholeNumber(std::int64_t value, const std::string& localeId)
{
    return localeFor(localeId).toString(static_cast<qlonglong>(value)).toStdString();
}

} // namespace tavrik
