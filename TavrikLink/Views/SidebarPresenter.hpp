#pragma once

#include "TavrikLink/Views/ContentViewPresenter.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace tavrik {

class Clock;

// The sidebar's rows: the Routines and Tags groups, each with its add row, then Firmware and
// Settings. Rows only describe what to draw; choosing one goes back to the window's presenter.
class SidebarPresenter {
public:
    enum class RowKind { routinesGroup, routine, newRoutine, addRoutine, tagsGroup, tag, addTag, firmware, settings };

    struct Row {
        RowKind kind = RowKind::firmware;
        std::uint32_t id = 0; // the routine's or tag's id
        std::string label;
        std::string caption; // the routine's schedule preview, or empty
        std::string symbol;
        bool active = false;
        bool indented = false;
        bool expanded = false; // groups only
        bool operator==(const Row&) const = default;
    };

    static std::vector<Row> rows(const ContentViewPresenter& window, const Clock& clock);
    // The row of one routine among rows(); `scheduled`: whether any schedule runs it.
    static Row routineRow(
        const ContentViewPresenter& window, const Clock& clock, const RoutineSummary& routine, bool scheduled);

    // Runs the row's action on the window.
    static void activate(ContentViewPresenter& window, const Row& row);
};

} // namespace tavrik
