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

    StartTagPickerPresenter(
        std::vector<TagInfo> tags, std::function<void(std::uint32_t)> onSelect, QObject* parent = nullptr);

    static QString buttonTitle() { return QStringLiteral("Add Start Tag"); }
    static QString listTitle() { return QStringLiteral("Choose a start tag"); }

    void setTags(std::vector<TagInfo> tags);
    const std::vector<TagInfo>& tags() const { return m_tags; }
    // 32 points a tag, at most 240.
    int listHeight() const;
    bool isPresented() const { return m_presented; }

    void open();
    void dismiss();
    void choose(std::size_t row);

signals:
    void presentedChanged(bool presented);
    void tagsChanged();

private:
    void setPresented(bool presented);

    std::vector<TagInfo> m_tags;
    std::function<void(std::uint32_t)> m_onSelect;
    bool m_presented = false;
};

} // namespace tavrik
