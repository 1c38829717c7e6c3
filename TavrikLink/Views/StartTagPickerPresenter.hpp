#pragma once

#include "TavrikCore/Model/TagModels.hpp"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace tavrik {

// "Add Start Tag": a button that opens a list of the tags the caller offers; choosing one closes the
// list and hands the tag's id to the caller. Dismissing the list chooses nothing.
class StartTagPickerPresenter : public QObject {
    Q_OBJECT
public:
    static constexpr int rowHeight = 32;
    static constexpr int maximumListHeight = 240;
    static constexpr int popoverWidth = 260;

    using TagSource = std::function<std::vector<TagInfo>()>;

    // The offer is read from `tags` only when the list opens (and on refresh() while it is open), so
    // a closed picker costs nothing however many tags there are.
    StartTagPickerPresenter(TagSource tags, std::function<void(std::uint32_t)> onSelect, QObject* parent = nullptr);
    StartTagPickerPresenter(
        std::vector<TagInfo> tags, std::function<void(std::uint32_t)> onSelect, QObject* parent = nullptr);

    static QString buttonTitle() { return QStringLiteral("Add Start Tag"); }
    static QString listTitle() { return QStringLiteral("Choose a start tag"); }

    // The tags the list shows.
    const std::vector<TagInfo>& tags() const { return m_tags; }
    // 32 points a tag, at most 240.
    int listHeight() const;
    bool isPresented() const { return m_presented; }

    void open();
    // The offer may have changed: an open list reads it again.
    void refresh();
    void dismiss();
    // A row of the open list.
    void choose(std::size_t row);

signals:
    void presentedChanged(bool presented);
    void tagsChanged();

private:
    void setPresented(bool presented);
    void load();

    TagSource m_source;
    bool m_fixed = false;
    std::vector<TagInfo> m_tags;
    std::function<void(std::uint32_t)> m_onSelect;
    bool m_presented = false;
};

} // namespace tavrik
