#include "Ui/Sidebar/OutputsFooter.hpp"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QThreadPool>
#include <QVBoxLayout>

#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Bridge/WindowRegistry.hpp"
#include "Ui/Settings/SettingsView.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Sidebar/SidebarTips.hpp"

namespace ombry::ui {

using namespace sidebar_rules;

namespace {

using theme::sized;

class OutputRowAccessible final : public QAccessibleWidget {
public:
    explicit OutputRowAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::Button) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return accessibleValue(static_cast<OutputRow*>(widget())->data().on);
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* outputRowAccessible(const QString& key, QObject* object) {
    if (key == QLatin1String("ombry::ui::OutputRow") && object && object->isWidgetType())
        return new OutputRowAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

}  // namespace

OutputRow::OutputRow(QWidget* parent) : QWidget(parent) {
    static const bool installed = [] {
        QAccessible::installFactory(outputRowAccessible);
        return true;
    }();
    (void)installed;
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void OutputRow::setData(const OutputRowData& data) {
    if (data == data_) return;
    data_ = data;
    setAccessibleName(data_.name + QStringLiteral(", ") + data_.detail + QStringLiteral(", ") + data_.label);
    update();
}

QSize OutputRow::sizeHint() const {
    const QFontMetrics name(sized(font(), 12)), detail(sized(font(), 10));
    return {200, name.height() + 1 + detail.height()};
}

QSize OutputRow::minimumSizeHint() const { return {60, sizeHint().height()}; }

QRect OutputRow::globalRect() const { return QRect(mapToGlobal(QPoint(0, 0)), size()); }

void OutputRow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect r = rect();
    // Status light.
    p.setPen(Qt::NoPen);
    p.setBrush(data_.on ? QColor(48, 209, 88) : QColor::fromRgbF(1, 1, 1, 0.18f));
    p.drawEllipse(QRectF(0, r.center().y() - 2.5, 6, 6));

    // Status pill at the right end.
    const QFont pillFont = sized(font(), 10, QFont::DemiBold);
    const QFontMetrics pm(pillFont);
    const int pillW = pm.horizontalAdvance(data_.label) + 10, pillH = pm.height() + 3;
    const QRectF pill(r.right() + 1 - pillW, r.center().y() - pillH / 2.0 + 0.5, pillW, pillH);
    p.setBrush(theme::surface());
    p.drawRoundedRect(pill, pillH / 2.0, pillH / 2.0);
    p.setFont(pillFont);
    p.setPen(theme::secondaryText());
    p.drawText(pill, Qt::AlignCenter, data_.label);

    // Name over detail, each one line, cut short before the pill.
    const int textX = 14;
    const int textW = std::max(0, int(pill.left()) - 4 - textX);
    const QFont nameFont = sized(font(), 12), detailFont = sized(font(), 10);
    const QFontMetrics nm(nameFont), dm(detailFont);
    const int top = (r.height() - (nm.height() + 1 + dm.height())) / 2;
    p.setFont(nameFont);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(textX, top, textW, nm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               nm.elidedText(data_.name, Qt::ElideRight, textW));
    p.setFont(detailFont);
    p.setPen(theme::secondaryText());
    p.drawText(QRect(textX, top + nm.height() + 1, textW, dm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               dm.elidedText(data_.detail, Qt::ElideRight, textW));
}

void OutputRow::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void OutputRow::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    if (click) emit clicked();
}

SubsectionHeader::SubsectionHeader(const QString& title, QWidget* parent) : QLabel(title, parent) {
    setFont(sized(font(), 11, QFont::DemiBold));
    QPalette p = palette();
    p.setColor(QPalette::WindowText, theme::secondaryText());
    setPalette(p);
}

OutputsFooter::OutputsFooter(const ViewContext& context, QWidget* parent) : QWidget(parent), context_(context) {
    setObjectName(QStringLiteral("outputsFooter"));
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(14, 8, 14, 38);
    v->setSpacing(7);
    auto* displayHeader = new SubsectionHeader(QStringLiteral("Display Output"), this);
    displayHeader->setObjectName(QStringLiteral("displayOutputHeader"));
    v->addWidget(displayHeader);
    auto row = [&](const char* name) {
        auto* r = new OutputRow(this);
        r->setObjectName(QString::fromLatin1(name));
        v->addWidget(r);
        return r;
    };
    browser_ = row("browserSourceRow");
    syphon_ = row("syphonRow");
    ndi_ = row("ndiRow");
    displays_ = new QWidget(this);
    displays_->setObjectName(QStringLiteral("displayRows"));
    displaysLayout_ = new QVBoxLayout(displays_);
    displaysLayout_->setContentsMargins(0, 0, 0, 0);
    displaysLayout_->setSpacing(7);
    v->addWidget(displays_);
    v->addSpacing(2);
    auto* audioHeader = new SubsectionHeader(QStringLiteral("Audio Output"), this);
    audioHeader->setObjectName(QStringLiteral("audioOutputHeader"));
    v->addWidget(audioHeader);
    audio_ = row("audioMonitorRow");

    connect(browser_, &OutputRow::clicked, this, &OutputsFooter::openObsTip);
    connect(syphon_, &OutputRow::clicked, this, [this] { flip(&AppSettings::syphonOutputEnabled); });
    connect(ndi_, &OutputRow::clicked, this, [this] { flip(&AppSettings::ndiOutputEnabled); });
    connect(audio_, &OutputRow::clicked, this, &OutputsFooter::openAudioTip);

    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(context.stateSignals,
                 {Aspect::serverInfo, Aspect::counts, Aspect::settings, Aspect::displays, Aspect::openDisplays});
    refresh();
}

void OutputsFooter::refresh() {
    const AppState& s = context_.state;
    browser_->setData(sidebar_rules::browserSourceRow(s.serverInfo, s.outputCount));
    syphon_->setData(sidebar_rules::syphonRow(s.settings().syphonOutputEnabled));
    ndi_->setData(sidebar_rules::ndiRow(s.settings().ndiOutputEnabled));
    audio_->setData(sidebar_rules::audioMonitorRow(s.settings(), monitorDevices_));

    // Display rows by id, reused, in display-list order; what a click uses is what is drawn now.
    std::map<DisplayId, DisplayRowState> rows;
    std::vector<DisplayId> order;
    for (const auto& d : s.displayList()) {
        DisplayRowState st;
        if (auto it = displayRows_.find(d.id); it != displayRows_.end()) {
            st.row = it->second.row;
            displayRows_.erase(it);
        } else {
            st.row = new OutputRow(displays_);
            st.row->setObjectName(QStringLiteral("displayRow%1").arg(d.id));
            const DisplayId id = d.id;
            connect(st.row, &OutputRow::clicked, this, [this, id] { clickDisplay(id); });
        }
        st.open = s.openDisplayIDs().count(d.id) > 0;
        st.reason = s.outputBlockReason(d);
        st.name = d.name;
        st.row->setData(sidebar_rules::displayRow(d, st.open));
        order.push_back(d.id);
        rows[d.id] = st;
    }
    for (auto& [id, gone] : displayRows_) delete gone.row;
    displayRows_ = std::move(rows);
    if (order != displayOrder_) {
        displayOrder_ = order;
        for (DisplayId id : order) displaysLayout_->removeWidget(displayRows_[id].row);
        for (DisplayId id : order) displaysLayout_->addWidget(displayRows_[id].row);
    }
    displays_->setVisible(!order.empty());
    for (DisplayId id : order) displayRows_[id].row->show();
}

std::vector<OutputRow*> OutputsFooter::displayRows() const {
    std::vector<OutputRow*> rows;
    for (DisplayId id : displayOrder_) rows.push_back(displayRows_.at(id).row);
    return rows;
}

OutputRow* OutputsFooter::displayRow(DisplayId id) const {
    auto it = displayRows_.find(id);
    return it == displayRows_.end() ? nullptr : it->second.row;
}

QString OutputsFooter::monitorDetail() const {
    return sidebar_rules::monitorDetail(context_.state.settings().monitorDeviceUID, monitorDevices_);
}

void OutputsFooter::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    readDevices();
}

void OutputsFooter::readDevices() {
    // The sound server may be slow to answer: asked off the GUI thread, taken back on it.
    const int read = ++deviceReads_;
    QPointer<OutputsFooter> self(this);
    QThreadPool::globalInstance()->start([self, read] {
        std::vector<AudioOutputDevice> devices = AudioDevices::outputDevices();
        QMetaObject::invokeMethod(qApp, [self, read, devices = std::move(devices)]() mutable {
            if (!self || read != self->deviceReads_) return;
            self->monitorDevices_ = std::move(devices);
            self->devicesRead_ = true;
            self->refresh();
            emit self->monitorDevicesChanged();
        }, Qt::QueuedConnection);
    });
}

void OutputsFooter::flip(bool AppSettings::*field) {
    AppSettings s = context_.state.settings();
    s.*field = !(s.*field);
    context_.state.setSettings(std::move(s));
}

void OutputsFooter::clickDisplay(DisplayId id) {
    refresh();  // the main window may have moved to another display since the last drawing
    auto it = displayRows_.find(id);
    if (it == displayRows_.end()) return;
    const DisplayRowState& st = it->second;
    if (displayClick(st.open, st.reason) == DisplayClick::toggle) {
        context_.state.toggleDisplay(id);
        return;
    }
    if (blockedTip_) blockedTip_->close();
    // The settings window on the pane it showed last.
    WindowRegistry* windows = &context_.windows;
    AppState* state = &context_.state;
    auto* tip = new DisplayBlockedTipView(st.reason.value_or(DisplayBlockReason::primary), QString::fromStdString(st.name),
                                          [windows, state] { openSettings(*windows, *state); }, window());
    tip->setAttribute(Qt::WA_DeleteOnClose);
    blockedTip_ = tip;
    blockedTipID_ = id;
    connect(tip, &Popover::closed, this, [this, tip] {
        if (blockedTip_ == tip) blockedTipID_.reset();
    });
    tip->showBeside(st.row->globalRect());
}

void OutputsFooter::openObsTip() {
    if (obsTip_) return;
    auto* tip = new ObsTipView(context_.state, context_.stateSignals, window());
    tip->setAttribute(Qt::WA_DeleteOnClose);
    obsTip_ = tip;
    tip->showBeside(browser_->globalRect());
}

void OutputsFooter::openAudioTip() {
    if (audioTip_) return;
    auto* tip = new AudioMonitorTipView(context_.state, context_.stateSignals, monitorDevices_, window());
    tip->setAttribute(Qt::WA_DeleteOnClose);
    audioTip_ = tip;
    tip->showBeside(audio_->globalRect());
}

}  // namespace ombry::ui
