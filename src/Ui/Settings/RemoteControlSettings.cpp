#include "Ui/Settings/RemoteControlSettings.hpp"

#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Settings/QRShareRow.hpp"
#include "Ui/Settings/SettingsForm.hpp"
#include "Ui/Settings/SettingsRules.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace {

QColor green() { return QColor(48, 209, 88); }

using theme::colourText;

QFont captionFont(QFont f) {
    f.setPixelSize(11);
    return f;
}

// An icon beside a caption-sized text, the pair in one colour; the text label is returned.
QLabel* iconLine(std::string_view symbol, const QColor& c, const char* objectName, QWidget* parent,
                 QLabel** iconOut = nullptr) {
    auto* row = new QWidget(parent);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(6);
    auto* icon = new QLabel(row);
    icon->setObjectName(QString::fromLatin1(objectName) + QStringLiteral("Icon"));
    icon->setPixmap(symbols::pixmap(symbol, 14, c));
    h->addWidget(icon, 0, Qt::AlignTop);
    auto* text = new QLabel(row);
    text->setObjectName(QString::fromLatin1(objectName));
    text->setWordWrap(true);
    text->setFont(captionFont(text->font()));
    colourText(text, c);
    h->addWidget(text, 1);
    if (iconOut) *iconOut = icon;
    return text;
}

// Commits on Return and when the focus leaves; typing alone changes nothing.
class PortField final : public QLineEdit {
public:
    std::function<void()> commit;
    using QLineEdit::QLineEdit;

protected:
    void focusOutEvent(QFocusEvent* event) override {
        if (event->reason() != Qt::PopupFocusReason && isModified() && commit) commit();
        QLineEdit::focusOutEvent(event);
    }
};

}  // namespace

RemoteControlSettings::RemoteControlSettings(SettingsContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {
    setObjectName(paneObjectName(SettingsSection::remote));
    AppState& state = context_.state;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* form = new SettingsForm(this);
    layout->addWidget(form);

    SettingsGroup* wifi = form->addSection(QStringLiteral("Wi-Fi"), "wifiSection");
    auto* wifiSwitch = settingsToggle(state, context_.stateSignals, &AppSettings::remoteControlEnabled);
    wifiSwitch->setObjectName(QStringLiteral("allowWifi"));
    wifi->addRow(QStringLiteral("Allow Wi-Fi connections"), wifiSwitch);
    auto* port = new PortField;
    port->setObjectName(QStringLiteral("controlPort"));
    port->setFixedWidth(96);
    port->setAlignment(Qt::AlignRight);
    port->commit = [this] { commitPort(); };
    connect(port, &QLineEdit::returnPressed, this, [this] { commitPort(); });
    port_ = port;
    wifi->addRow(QStringLiteral("Port"), port_);
    wifi->addNote(QStringLiteral(
        "Control Ombry over the network: the iPhone remote, Bitfocus Companion, a Stream Deck, or any HTTP client. "
        "Install the Ombry Companion module, or point Companion's Generic HTTP connection at the address below."));

    SettingsGroup* ble = form->addSection(QStringLiteral("Bluetooth"), "bluetoothSection");
    auto* bleSwitch = settingsToggle(state, context_.stateSignals, &AppSettings::bleRemoteEnabled);
    bleSwitch->setObjectName(QStringLiteral("allowBluetooth"));
    ble->addRow(QStringLiteral("Allow Bluetooth connections"), bleSwitch);
    bleWarning_ = iconLine("exclamationmark.triangle", theme::orange(), "bluetoothWarning", nullptr);
    ble->addWidget(bleWarning_->parentWidget());
    ble->addNote(QStringLiteral("Lets the iPhone remote connect directly over Bluetooth \u2014 no Wi-Fi needed, and "
                                "works even with Wi-Fi connections off."));

    SettingsGroup* password = form->addSection(QStringLiteral("Password"), "passwordSection");
    password_ = new QLineEdit;
    password_->setObjectName(QStringLiteral("controlPassword"));
    password_->setEchoMode(QLineEdit::Password);
    password_->setPlaceholderText(QStringLiteral("Optional control password"));
    password_->setAccessibleName(QStringLiteral("Optional control password"));
    // Stored exactly as typed, on every edit; the servers ignore white space around it.
    connect(password_, &QLineEdit::textEdited, this, [this](const QString& text) {
        writeSetting(context_.state, &AppSettings::remoteControlPassword, text.toStdString());
    });
    password->addWidget(password_);
    password->addNote(QStringLiteral(
        "Optional. When set, every controller \u2014 the iPhone remote, Companion, a Stream Deck, or any HTTP client, "
        "over Wi-Fi or Bluetooth \u2014 must supply this password, or it's refused. Leave blank to trust every device "
        "on your network (fine for a private network; set a password on shared or public Wi-Fi)."));

    address_ = form->addSection(QStringLiteral("Address"), "addressSection");
    starting_ = new QLabel(QStringLiteral("Starting\u2026"));
    starting_->setObjectName(QStringLiteral("addressStarting"));
    colourText(starting_, theme::secondaryText());
    address_->addWidget(starting_);
    addressRows_ = new QWidget;
    addressRows_->setObjectName(QStringLiteral("addressRows"));
    addressLayout_ = new QVBoxLayout(addressRows_);
    addressLayout_->setContentsMargins(0, 0, 0, 0);
    addressLayout_->setSpacing(6);
    address_->addWidget(addressRows_);
    addressNote_ = address_->addNote(QStringLiteral(
        "In Companion, enter the network address (host and port) shown here. Use the LAN address, not localhost, "
        "when Companion runs on another machine."));
    discovery_ = iconLine("checkmark.circle", green(), "discoveryStatus", nullptr);
    address_->addWidget(discovery_->parentWidget());

    pairing_ = form->addSection(QStringLiteral("iPhone / iPad Remote"), "pairingSection");
    qr_ = new QRShareRow(QString(), QStringLiteral("Open Ombry Remote on your iPhone or iPad and tap Scan QR Code."));
    qr_->setObjectName(QStringLiteral("pairingCode"));
    pairing_->addWidget(qr_);
    noAddress_ = pairing_->addNote(
        QStringLiteral("No network address yet \u2014 connect this computer to a network to pair a remote."));
    noAddress_->setObjectName(QStringLiteral("noPairingAddress"));

    security_ = form->addSection(QStringLiteral("Security"), "securitySection");
    securityTitle_ = iconLine("lock.shield", green(), "securityTitle", nullptr, &securityIcon_);
    security_->addWidget(securityTitle_->parentWidget());
    securityNote_ = security_->addNote(QString());
    securityNote_->setObjectName(QStringLiteral("securityNote"));

    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(context_.stateSignals, {Aspect::settings, Aspect::controlServerInfo, Aspect::counts});
    refresh();
}

void RemoteControlSettings::commitPort() {
    const auto value = settings::portFromText(port_->text());
    port_->setModified(false);
    if (value && *value != context_.state.settings().remoteControlPort)
        writeSetting(context_.state, &AppSettings::remoteControlPort, *value);
    // The stored port, whatever was typed.
    port_->setText(QString::number(context_.state.settings().remoteControlPort));
}

void RemoteControlSettings::refresh() {
    const AppState& s = context_.state;
    const AppSettings& set = s.settings();
    if (!(port_->hasFocus() && port_->isModified())) port_->setText(QString::number(set.remoteControlPort));
    port_->setEnabled(set.remoteControlEnabled);

    const auto warning = settings::bluetoothWarning(set.bleRemoteEnabled, s.bleState());
    bleWarning_->parentWidget()->setVisible(bool(warning));
    if (warning) bleWarning_->setText(*warning);

    if (password_->text().toStdString() != set.remoteControlPassword) {
        const QSignalBlocker block(password_);
        password_->setText(QString::fromStdString(set.remoteControlPassword));
    }

    const bool on = set.remoteControlEnabled;
    address_->setVisible(on);
    pairing_->setVisible(on);
    security_->setVisible(on);
    if (!on) return;

    refreshAddresses();
    const settings::DiscoveryLine line = settings::discoveryLine(s.bonjourStatus());
    discovery_->parentWidget()->setVisible(line.style != settings::DiscoveryLine::Style::none);
    discovery_->setText(line.text);
    const bool ok = line.style == settings::DiscoveryLine::Style::ok;
    const QColor c = ok ? green() : theme::orange();
    colourText(discovery_, c);
    discovery_->parentWidget()->findChild<QLabel*>(QStringLiteral("discoveryStatusIcon"))
        ->setPixmap(symbols::pixmap(ok ? "checkmark.circle" : "exclamationmark.triangle", 14, c));

    const auto pairing = settings::pairingString(s.controlServerInfo());
    qr_->setVisible(bool(pairing));
    noAddress_->setVisible(!pairing);
    if (pairing) qr_->setValue(*pairing);

    const settings::SecurityNote note = settings::securityNote(set.remoteControlPassword);
    const QColor noteColour = note.locked ? green() : theme::secondaryText();
    securityIcon_->setPixmap(symbols::pixmap(note.symbol, 14, noteColour));
    securityTitle_->setText(note.title);
    colourText(securityTitle_, noteColour);
    securityNote_->setText(note.note);
}

void RemoteControlSettings::refreshAddresses() {
    const auto& info = context_.state.controlServerInfo();
    starting_->setVisible(!info);
    addressRows_->setVisible(bool(info));
    addressNote_->setVisible(bool(info));
    std::string shown;
    if (info)
        for (const auto& url : info->urls) shown += url + '\n';
    if (shown == addressesShown_) return;
    addressesShown_ = shown;
    while (QLayoutItem* item = addressLayout_->takeAt(0)) {
        if (QWidget* w = item->widget()) w->deleteLater();
        delete item;
    }
    if (!info) return;
    for (std::size_t i = 0; i < info->urls.size(); ++i) {
        const QString url = QString::fromStdString(info->urls[i]);
        auto* row = new QWidget(addressRows_);
        row->setObjectName(QStringLiteral("addressRow"));
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        h->setSpacing(6);
        auto* label = new QLabel(i == 0 ? QStringLiteral("This computer") : QStringLiteral("On your network"), row);
        label->setObjectName(QStringLiteral("addressLabel"));
        h->addWidget(label);
        h->addStretch(1);
        auto* text = new QLabel(row);
        text->setObjectName(QStringLiteral("address"));
        text->setTextFormat(Qt::PlainText);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        QFont mono = theme::monoCaption();
        mono.setPixelSize(12);
        text->setFont(mono);
        text->setText(text->fontMetrics().elidedText(url, Qt::ElideMiddle, 230));
        text->setToolTip(url);
        h->addWidget(text);
        auto* copy = new QPushButton(QStringLiteral("Copy"), row);
        copy->setObjectName(QStringLiteral("copyAddress"));
        copy->setAccessibleName(QStringLiteral("Copy ") + url);
        copy->setFocusPolicy(Qt::TabFocus);
        connect(copy, &QPushButton::clicked, this, [this, u = info->urls[i]] { context_.state.copyPlainText(u); });
        h->addWidget(copy);
        addressLayout_->addWidget(row);
    }
}

}  // namespace ombry::ui
