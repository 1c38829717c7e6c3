#include "TavrikLink/Views/StartTagPickerPresenter.hpp"

#include <algorithm>
#include <utility>

namespace tavrik {

StartTagPickerPresenter::StartTagPickerPresenter(
    std::vector<TagInfo> tags, std::function<void(std::uint32_t)> onSelect, QObject* parent)
    : QObject(parent)
    , m_tags(std::move(tags))
    , m_onSelect(std::move(onSelect))
{
}

void StartTagPickerPresenter::setTags(std::vector<TagInfo> tags)
{
    if (tags == m_tags) {
        return;
    }
    m_tags = std::move(tags);
    emit tagsChanged();
}

int StartTagPickerPresenter::listHeight() const
{
    const auto height = static_cast<long long>(m_tags.size()) * rowHeight;
    return static_cast<int>(std::min<long long>(height, maximumListHeight));
}

void StartTagPickerPresenter::open()
{
    setPresented(true);
}

void StartTagPickerPresenter::dismiss()
{
    setPresented(false);
}

void StartTagPickerPresenter::choose(std::size_t row)
{
    if (row >= m_tags.size()) {
        return;
    }
    const std::uint32_t id = m_tags[row].id;
    setPresented(false);
    if (m_onSelect) {
        m_onSelect(id);
    }
}

void StartTagPickerPresenter::setPresented(bool presented)
{
    if (presented != m_presented) {
        m_presented = presented;
        emit presentedChanged(presented);
    }
}

} // namespace tavrik
