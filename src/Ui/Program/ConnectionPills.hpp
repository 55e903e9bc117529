#pragma once
// The toolbar's status pills: the program's LIVE / BLACK / OFFLINE pill (a click cuts to black or
// restores), and the REMOTE and COMPANION pills with the tips they open.
#include <QAbstractButton>
#include <QPointer>

#include "Ui/Shell/Columns.hpp"
#include "Ui/Widgets/Popover.hpp"

class QLabel;
class QVBoxLayout;

namespace ombry::ui {

// The painted capsule the pills share: a tinted glass fill, an optional dot, symbol and transport glyphs,
// then the bold caption text.
class PillButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit PillButton(QWidget* parent = nullptr);
    void setLook(const QString& text, const QColor& tint, std::optional<QColor> dot = std::nullopt);
    void setSymbol(const char* symbol) { symbol_ = symbol; updateGeometry(); }
    void setGlyphs(bool wifi, bool bluetooth);
    QColor tint() const { return tint_; }
    bool showsWifi() const { return wifi_; }
    bool showsBluetooth() const { return bluetooth_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont labelFont() const;
    QColor tint_;
    std::optional<QColor> dot_;
    const char* symbol_ = nullptr;
    bool wifi_ = false, bluetooth_ = false;
};

class OutputStatusPill final : public PillButton {
public:
    explicit OutputStatusPill(ViewContext& context, QWidget* parent = nullptr);

private:
    void refresh();
    AppState& state_;
};

// The REMOTE and COMPANION pills: a tap opens the tip (it never closes it).
class ConnectionPill : public PillButton {
public:
    enum class Kind { remote, companion };
    ConnectionPill(Kind kind, ViewContext& context, QWidget* parent = nullptr);
    Popover* tip() const { return tip_; }
    void openTip();

private:
    void refresh();
    Kind kind_;
    ViewContext& context_;
    QPointer<Popover> tip_;
};

class RemotePill final : public ConnectionPill {
public:
    explicit RemotePill(ViewContext& context, QWidget* parent = nullptr) : ConnectionPill(Kind::remote, context, parent) {}
};

class CompanionPill final : public ConnectionPill {
public:
    explicit CompanionPill(ViewContext& context, QWidget* parent = nullptr)
        : ConnectionPill(Kind::companion, context, parent) {}
};

// "Remote Connected": one row per transport in use, then the caption.
class RemoteTipView final : public Popover {
public:
    explicit RemoteTipView(ViewContext& context, QWidget* parent = nullptr);

private:
    void refresh();
    AppState& state_;
    QWidget* wifiRow_ = nullptr;
    QWidget* bleRow_ = nullptr;
    QLabel* wifiCount_ = nullptr;
    QLabel* bleCount_ = nullptr;
};

// "Companion Connected": the connection count and the control server's port.
class CompanionTipView final : public Popover {
public:
    explicit CompanionTipView(ViewContext& context, QWidget* parent = nullptr);

private:
    void refresh();
    AppState& state_;
    QLabel* count_ = nullptr;
    QLabel* caption_ = nullptr;
};

}  // namespace ombry::ui
