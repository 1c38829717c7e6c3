#include "TavrikLink/Views/EditorSheetPresenter.hpp"

#include <utility>

namespace tavrik {

EditorSheetPresenter::EditorSheetPresenter(std::function<void()> onClose, std::function<void()> onDelete, QObject* parent)
    : QObject(parent)
    , m_onClose(std::move(onClose))
    , m_onDelete(std::move(onDelete))
{
}

void EditorSheetPresenter::done()
{
    m_attemptedSave = true;
    emit changed();
    if (acceptForClose() && m_onClose) {
        m_onClose();
    }
}

void EditorSheetPresenter::remove()
{
    if (m_onDelete) {
        m_onDelete();
    }
}

} // namespace tavrik
