#include "TavrikLink/Views/StartTagPickerPresenter.hpp"

#include <algorithm>
#include <utility>

namespace tavrik {

StartTagPickerPresenter::StartTagPickerPresenter(
    TagSource tags, std::function<void(std::uint32_t)> onSelect, QObject* parent)
    : QObject(parent)
    , m_source(std::move(tags))
    , m_onSelect(std::move(onSelect))
{
}

StartTagPickerPresenter::StartTagPickerPresenter(
    std::vector<TagInfo> tags, std::function<void(std::uint32_t)> onSelect, QObject* parent)
    : QObject(parent)
    , m_fixed(true)
    , m_tags(std::move(tags))
    , m_onSelect(std::move(onSelect))
{
}

int StartTagPickerPresenter::listHeight() const
{
    const auto height = static_cast<long long>(m_tags.size()) * rowHeight;
    return static_cast<int>(std::min<long long>(height, maximumListHeight));
}

void StartTagPickerPresenter::load()
{
    if (m_fixed) {
        return;
    }
    std::vector<TagInfo> next = m_source ? m_source() : std::vector<TagInfo> {};
    if (next != m_tags) {
        m_tags = std::move(next);
        emit tagsChanged();
    }
}

void StartTagPickerPresenter::open()
{
    load();
    setPresented(true);
}

void StartTagPickerPresenter::refresh()
{
    if (m_presented) {
        load();
    }
}

void StartTagPickerPresenter::dismiss()
{
    setPresented(false);
}

void StartTagPickerPresenter::choose(std::size_t row)
{
    if (!m_presented || row >= m_tags.size()) {
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
    if (presented == m_presented) {
        return;
    }
    m_presented = presented;
    emit presentedChanged(presented);
    if (!presented && !m_fixed && !m_tags.empty()) {
        // A closed list keeps no copy of the offer.
        std::vector<TagInfo>().swap(m_tags);
        emit tagsChanged();
    }
}

} // namespace tavrik
