#include "Ui/Sidebar/SidebarTips.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Bridge/StateSignals.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Sidebar/SidebarRules.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

using namespace sidebar_rules;

namespace {

using theme::sized;

QLabel* headline(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QStringLiteral("tipTitle"));
    l->setFont(sized(l->font(), 13, QFont::Bold));
    return l;
}

QLabel* wrapping(const QString& text, int pixels, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    l->setFont(sized(l->font(), pixels));
    return l;
}

// A leading-aligned stack padded 16 on every side.
QVBoxLayout* tipLayout(QWidget* tip, int width, int spacing) {
    tip->setFixedWidth(width);
    auto* v = new QVBoxLayout(tip);
    v->setContentsMargins(16, 16, 16, 16);
    v->setSpacing(spacing);
    return v;
}

// A filled rounded panel behind a row of the tip.
class FilledPanel final : public QWidget {
public:
    FilledPanel(QColor fill, QWidget* parent) : QWidget(parent), fill_(fill) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(fill_);
        p.drawRoundedRect(QRectF(rect()), 6, 6);
    }

private:
    QColor fill_;
};

// The step number on a blue disc.
class StepBadge final : public QWidget {
public:
    StepBadge(int number, QWidget* parent) : QWidget(parent), number_(number) { setFixedSize(16, 16); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(10, 132, 255));
        p.drawEllipse(QRectF(rect()));
        p.setPen(Qt::white);
        p.setFont(sized(font(), 10, QFont::Bold));
        p.drawText(rect(), Qt::AlignCenter, QString::number(number_));
    }

private:
    int number_;
};

}  // namespace

ObsTipView::ObsTipView(AppState& state, StateSignals& stateSignals, QWidget* parent) : Popover(parent), state_(state) {
    setObjectName(QStringLiteral("obsTip"));
    setAccessibleName(QStringLiteral("Connect to OBS"));
    auto* v = tipLayout(this, 320, 10);
    v->addWidget(headline(QStringLiteral("Connect to OBS"), this));

    auto* steps = new QWidget(this);
    auto* sv = new QVBoxLayout(steps);
    sv->setContentsMargins(0, 0, 0, 0);
    sv->setSpacing(6);
    for (int n = 1; n <= 4; ++n) {
        auto* step = new QWidget(steps);
        auto* h = new QHBoxLayout(step);
        h->setContentsMargins(0, 0, 0, 0);
        h->setSpacing(7);
        h->addWidget(new StepBadge(n, step), 0, Qt::AlignTop);
        auto* text = wrapping(obsStep(n), 12, step);
        text->setObjectName(QStringLiteral("obsStep%1").arg(n));
        h->addWidget(text, 1);
        sv->addWidget(step);
    }
    v->addWidget(steps);

    auto* note = new FilledPanel(QColor::fromRgbF(theme::yellow().redF(), theme::yellow().greenF(), theme::yellow().blueF(), 0.12f), this);
    auto* nh = new QHBoxLayout(note);
    nh->setContentsMargins(8, 8, 8, 8);
    nh->setSpacing(6);
    auto* icon = new QLabel(note);
    icon->setPixmap(symbols::pixmap("exclamationmark.circle.fill", 14, theme::yellow()));
    nh->addWidget(icon, 0, Qt::AlignTop);
    auto* noteText = wrapping(obsCodecNote(), 11, note);
    noteText->setObjectName(QStringLiteral("obsCodecNote"));
    nh->addWidget(noteText, 1);
    v->addWidget(note);

    auto* row = new FilledPanel(theme::surface(), this);
    row->setObjectName(QStringLiteral("obsAddressRow"));
    auto* rh = new QHBoxLayout(row);
    rh->setContentsMargins(8, 8, 8, 8);
    rh->setSpacing(8);
    // Read-only and frameless: one line that can be selected by hand, never wrapping.
    address_ = new QLineEdit(row);
    address_->setObjectName(QStringLiteral("obsAddress"));
    address_->setAccessibleName(QStringLiteral("Output address"));
    address_->setReadOnly(true);
    address_->setFrame(false);
    address_->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(12);
    address_->setFont(mono);
    auto* copy = new QPushButton(QStringLiteral("Copy"), row);
    copy->setObjectName(QStringLiteral("obsCopy"));
    copy->setAccessibleName(QStringLiteral("Copy"));
    copy->setFocusPolicy(Qt::NoFocus);
    copy->setAutoDefault(false);
    rh->addWidget(address_, 1);
    rh->addWidget(copy);
    v->addWidget(row);

    connect(copy, &QPushButton::clicked, this, [this] { state_.copyOutputURL(); });
    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(stateSignals, {Aspect::serverInfo});
    refresh();
}

void ObsTipView::refresh() {
    address_->setText(obsAddress(state_.serverInfo));
    address_->setCursorPosition(0);
    address_->setToolTip(address_->text());
}

DisplayBlockedTipView::DisplayBlockedTipView(DisplayBlockReason reason, const QString& displayName,
                                             std::function<void()> openSettings, QWidget* parent)
    : Popover(parent) {
    setObjectName(QStringLiteral("displayBlockedTip"));
    setAccessibleName(QStringLiteral("Output is blocked here"));
    auto* v = tipLayout(this, 300, 10);
    auto* title = new QWidget(this);
    auto* th = new QHBoxLayout(title);
    th->setContentsMargins(0, 0, 0, 0);
    th->setSpacing(6);
    auto* icon = new QLabel(title);
    icon->setPixmap(symbols::pixmap("exclamationmark.triangle.fill", 15, theme::orange()));
    auto* text = headline(QStringLiteral("Output is blocked here"), title);
    QPalette p = text->palette();
    p.setColor(QPalette::WindowText, theme::orange());
    text->setPalette(p);
    th->addWidget(icon);
    th->addWidget(text, 1);
    v->addWidget(title);
    message_ = wrapping(blockedMessage(reason, displayName), 12, this);
    message_->setObjectName(QStringLiteral("blockedMessage"));
    v->addWidget(message_);
    auto* link = new QPushButton(QStringLiteral("Open Settings \u2192 Output Displays"), this);
    link->setObjectName(QStringLiteral("openSettings"));
    link->setAccessibleName(link->text());
    link->setFocusPolicy(Qt::NoFocus);
    link->setAutoDefault(false);
    v->addWidget(link, 0, Qt::AlignLeft);
    connect(link, &QPushButton::clicked, this, [openSettings = std::move(openSettings)] {
        if (openSettings) openSettings();
    });
}

QString DisplayBlockedTipView::message() const { return message_->text(); }

AudioMonitorTipView::AudioMonitorTipView(AppState& state, StateSignals& stateSignals, std::vector<AudioOutputDevice> devices,
                                         QWidget* parent)
    : Popover(parent), state_(state), devices_(std::move(devices)) {
    setObjectName(QStringLiteral("audioMonitorTip"));
    setAccessibleName(QStringLiteral("Audio Monitor"));
    auto* v = tipLayout(this, 320, 12);
    v->addWidget(headline(QStringLiteral("Audio Monitor"), this));
    toggle_ = new QCheckBox(QStringLiteral("Monitor program audio"), this);
    toggle_->setObjectName(QStringLiteral("monitorToggle"));
    toggle_->setAccessibleName(toggle_->text());
    v->addWidget(toggle_);
    auto* row = new QWidget(this);
    auto* rh = new QHBoxLayout(row);
    rh->setContentsMargins(0, 0, 0, 0);
    rh->setSpacing(8);
    auto* label = new QLabel(QStringLiteral("Output device"), row);
    picker_ = new QComboBox(row);
    picker_->setObjectName(QStringLiteral("monitorDevice"));
    picker_->setAccessibleName(QStringLiteral("Output device"));
    label->setBuddy(picker_);
    rh->addWidget(label);
    rh->addWidget(picker_, 1);
    v->addWidget(row);
    auto* note = wrapping(QStringLiteral("Plays the program to this computer. Route it to a spare or virtual device "
                                         "to feed OBS's audio output capture while your speakers stay quiet. Local "
                                         "only \u2014 it doesn't affect OBS or display outputs."),
                          11, this);
    note->setObjectName(QStringLiteral("monitorNote"));
    QPalette np = note->palette();
    np.setColor(QPalette::WindowText, theme::secondaryText());
    note->setPalette(np);
    v->addWidget(note);

    // Each control writes its one field into the settings at once.
    connect(toggle_, &QCheckBox::toggled, this, [this](bool on) {
        AppSettings s = state_.settings();
        if (s.audioMonitorEnabled == on) return;
        s.audioMonitorEnabled = on;
        state_.setSettings(std::move(s));
    });
    connect(picker_, &QComboBox::activated, this, [this](int index) {
        AppSettings s = state_.settings();
        const auto uid = storedDevice(picker_->itemData(index).toString().toStdString());
        if (s.monitorDeviceUID == uid) return;
        s.monitorDeviceUID = uid;
        state_.setSettings(std::move(s));
    });
    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(stateSignals, {Aspect::settings});
    refresh();
}

void AudioMonitorTipView::refresh() {
    const AppSettings& s = state_.settings();
    const QSignalBlocker blockToggle(toggle_), blockPicker(picker_);
    toggle_->setChecked(s.audioMonitorEnabled);
    picker_->clear();
    const std::string current = s.monitorDeviceUID.value_or("");
    for (const DeviceChoice& c : monitorChoices(devices_, s.monitorDeviceUID)) {
        picker_->addItem(c.label, QString::fromStdString(c.uid));
        if (c.uid == current) picker_->setCurrentIndex(picker_->count() - 1);
    }
}

}  // namespace ombry::ui
