#include "TavrikLink/Ui/WifiSettingsSection.hpp"

#include "TavrikLink/Ui/SymbolIcon.hpp"
#include "TavrikLink/Views/WifiSettingsPresenter.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace tavrik {

namespace {

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QFont captionFont(const QFont& base)
{
    QFont font = base;
    font.setPointSizeF(font.pointSizeF() * 0.85);
    return font;
}

QWidget* savedNetworkRow(const WifiCredentialSummary& credential, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(8);
    const QColor secondary = row->palette().color(QPalette::PlaceholderText);
    auto* symbol = new QLabel(row);
    symbol->setPixmap(symbolIcon(QStringLiteral("wifi"), secondary).pixmap(16, 16));
    layout->addWidget(symbol);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* ssid = new QLabel(QString::fromStdString(credential.ssid), row);
    ssid->setObjectName(QStringLiteral("wifiSsid"));
    texts->addWidget(ssid);
    const auto status = WifiSettingsPresenter::status(credential);
    auto* line = new QLabel(qs(WifiSettingsPresenter::statusLine(status)), row);
    line->setObjectName(QStringLiteral("wifiStatusLine"));
    line->setFont(captionFont(line->font()));
    line->setForegroundRole(QPalette::PlaceholderText);
    texts->addWidget(line);
    layout->addLayout(texts);
    layout->addStretch();
    auto* mark = new QLabel(row);
    switch (status) {
    case WifiSettingsPresenter::SavedStatus::lastSuccessful:
        mark->setPixmap(symbolIcon(QStringLiteral("checkmark.circle.fill"), QColor(0x28, 0xa7, 0x45)).pixmap(16, 16));
        break;
    case WifiSettingsPresenter::SavedStatus::verified:
        mark->setPixmap(symbolIcon(QStringLiteral("checkmark.circle"), secondary).pixmap(16, 16));
        break;
    case WifiSettingsPresenter::SavedStatus::unverified:
        mark->setPixmap(symbolIcon(QStringLiteral("exclamationmark.circle"), QColor(0xff, 0x95, 0x00)).pixmap(16, 16));
        break;
    }
    layout->addWidget(mark);
    return row;
}

} // namespace

WifiSettingsSection::WifiSettingsSection(WifiSettingsPresenter* model, QWidget* parent)
    : QWidget(parent)
    , wifi(model)
{
    wifi->setParent(this);
    build();
}

void WifiSettingsSection::build()
{
    setObjectName(QStringLiteral("wifiSettingsSection"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* title = new QLabel(qs(WifiSettingsPresenter::title), this);
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    layout->addWidget(title);
    auto* explanation = new QLabel(qs(WifiSettingsPresenter::explanation), this);
    explanation->setFont(captionFont(explanation->font()));
    explanation->setForegroundRole(QPalette::PlaceholderText);
    explanation->setWordWrap(true);
    layout->addWidget(explanation);

    networks = new QListWidget(this);
    networks->setObjectName(QStringLiteral("savedWifiNetworks"));
    networks->setMinimumHeight(150);
    networks->setMaximumHeight(240);
    networks->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(networks);

    auto* controls = new QHBoxLayout;
    controls->setSpacing(8);
    add = new QToolButton(this);
    add->setObjectName(QStringLiteral("addWifiNetwork"));
    add->setIcon(symbolIcon(QStringLiteral("plus")));
    add->setToolTip(QStringLiteral("Add Wi-Fi network"));
    controls->addWidget(add);
    remove = new QToolButton(this);
    remove->setObjectName(QStringLiteral("removeWifiNetwork"));
    remove->setIcon(symbolIcon(QStringLiteral("minus")));
    remove->setToolTip(QStringLiteral("Remove selected Wi-Fi network"));
    controls->addWidget(remove);
    edit = new QPushButton(QStringLiteral("Edit\u2026"), this);
    edit->setObjectName(QStringLiteral("editWifiNetwork"));
    controls->addWidget(edit);
    controls->addStretch();
    check = new QPushButton(QStringLiteral("Check Now"), this);
    check->setObjectName(QStringLiteral("checkWifiNetworks"));
    controls->addWidget(check);
    layout->addLayout(controls);

    messageRow = new QWidget(this);
    auto* messageLayout = new QHBoxLayout(messageRow);
    messageLayout->setContentsMargins(0, 0, 0, 0);
    messageLayout->setSpacing(6);
    progress = new QProgressBar(messageRow);
    progress->setRange(0, 0);
    progress->setTextVisible(false);
    progress->setFixedSize(48, 8);
    messageLayout->addWidget(progress);
    message = new QLabel(messageRow);
    message->setObjectName(QStringLiteral("wifiSettingsMessage"));
    message->setFont(captionFont(message->font()));
    message->setForegroundRole(QPalette::PlaceholderText);
    message->setWordWrap(true);
    messageLayout->addWidget(message, 1);
    layout->addWidget(messageRow);
    // Extra height goes below the content, never between its rows.
    layout->addStretch();

    // Follows the selection, not the current row: the list takes a current row of its own when it
    // gets the focus (say, when the button that had it is disabled), which is no choice of the user.
    connect(networks, &QListWidget::itemSelectionChanged, this, [this] {
        if (redrawing) {
            return;
        }
        const auto chosen = networks->selectedItems();
        const int row = chosen.isEmpty() ? -1 : networks->row(chosen.constFirst());
        const auto saved = wifi->inputs().savedWifiCredentials;
        if (row >= 0 && row < static_cast<int>(saved.size())) {
            wifi->select(saved[static_cast<std::size_t>(row)].ssid);
        } else {
            wifi->select(std::nullopt);
        }
    });
    connect(add, &QToolButton::clicked, this, [this] { wifi->beginAddingWifiCredential(); });
    connect(remove, &QToolButton::clicked, this, [this] { wifi->askToRemoveSelectedWifiCredential(); });
    connect(edit, &QPushButton::clicked, this, [this] { wifi->beginEditingSelectedWifiCredential(); });
    connect(check, &QPushButton::clicked, this, [this] { wifi->checkNow(); });
    connect(wifi, &WifiSettingsPresenter::changed, this, &WifiSettingsSection::redraw);
    redraw();
}

void WifiSettingsSection::redraw()
{
    redrawing = true;
    const auto inputs = wifi->inputs();
    const auto& selected = wifi->state().selectedWifiCredentialSsid;
    networks->clear();
    if (inputs.savedWifiCredentials.empty()) {
        auto* item = new QListWidgetItem(qs(WifiSettingsPresenter::emptyListText), networks);
        item->setFlags(Qt::NoItemFlags);
        item->setForeground(palette().color(QPalette::PlaceholderText));
    }
    int current = -1;
    for (const auto& credential : inputs.savedWifiCredentials) {
        auto* item = new QListWidgetItem(networks);
        item->setData(Qt::UserRole, QString::fromStdString(credential.ssid));
        QWidget* row = savedNetworkRow(credential, networks);
        item->setSizeHint(row->sizeHint());
        networks->setItemWidget(item, row);
        if (selected && *selected == credential.ssid) {
            current = networks->count() - 1;
        }
    }
    if (current >= 0) {
        networks->setCurrentRow(current);
    } else {
        networks->clearSelection();
    }
    add->setEnabled(wifi->canAdd());
    remove->setEnabled(wifi->canRemove());
    edit->setEnabled(wifi->canEdit());
    check->setEnabled(wifi->canCheck());
    const auto text = wifi->sectionMessage();
    messageRow->setVisible(text.has_value());
    message->setText(QString::fromStdString(text.value_or(std::string())));
    progress->setVisible(wifi->sectionShowsProgress());
    redrawing = false;
}

} // namespace tavrik
