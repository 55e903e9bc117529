#pragma once
// The Remote Control pane: the remote-control server ("Wi-Fi") and the Bluetooth remote on or off, the port,
// the control password, the server's addresses and discovery state, the pairing code and a security note.
#include <QWidget>

#include <string>

#include "Ui/Settings/SettingsView.hpp"

class QLabel;
class QLineEdit;
class QVBoxLayout;

namespace ombry::ui {

class QRShareRow;
class RefreshGate;
class SettingsGroup;
class Switch;

class RemoteControlSettings final : public QWidget {
    Q_OBJECT
public:
    RemoteControlSettings(SettingsContext& context, QWidget* parent = nullptr);
    QLineEdit* portField() const { return port_; }
    QLineEdit* passwordField() const { return password_; }

private:
    void refresh();
    void commitPort();
    void refreshAddresses();

    SettingsContext context_;
    QLineEdit* port_ = nullptr;
    QLabel* bleWarning_ = nullptr;
    QLineEdit* password_ = nullptr;
    SettingsGroup* address_ = nullptr;
    QLabel* starting_ = nullptr;
    QWidget* addressRows_ = nullptr;
    QVBoxLayout* addressLayout_ = nullptr;
    QLabel* addressNote_ = nullptr;
    QLabel* discovery_ = nullptr;
    std::string addressesShown_;
    SettingsGroup* pairing_ = nullptr;
    QRShareRow* qr_ = nullptr;
    QLabel* noAddress_ = nullptr;
    SettingsGroup* security_ = nullptr;
    QLabel* securityIcon_ = nullptr;
    QLabel* securityTitle_ = nullptr;
    QLabel* securityNote_ = nullptr;
    RefreshGate* gate_ = nullptr;
};

}  // namespace ombry::ui
