#include "Ui/Board/PlaylistPlaybackTip.hpp"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <cmath>

#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Widgets/Switch.hpp"

namespace ombry::ui {

namespace tip_rules {

int transitionRow(const std::optional<TransitionType>& stored) {
    if (!stored) return 0;
    switch (*stored) {
        case TransitionType::cut: return 1;
        case TransitionType::fade:
        case TransitionType::crossfade: return 2;
        case TransitionType::slide: return 3;
        case TransitionType::zoom: return 4;
    }
    return 0;
}

std::optional<TransitionType> transitionForRow(int row) {
    switch (row) {
        case 1: return TransitionType::cut;
        case 2: return TransitionType::crossfade;
        case 3: return TransitionType::slide;
        case 4: return TransitionType::zoom;
        default: return std::nullopt;
    }
}

double committedInterval(double value) { return clampedAdvanceSeconds(value); }

QString intervalText(const std::optional<double>& stored) {
    return QLocale().toString(stored ? clampedAdvanceSeconds(*stored) : 10.0, 'f', 0);
}

Group withTransition(Group g, int row) {
    g.transitionType = transitionForRow(row);
    return g;
}
Group withAdvanceOnEnd(Group g, bool on) {
    g.advanceOnEnd = on ? std::optional<bool>(true) : std::nullopt;
    return g;
}
Group withAdvanceEvery(Group g, bool on) {
    g.advanceSeconds = on ? std::optional<double>(10) : std::nullopt;
    return g;
}
Group withInterval(Group g, double value) {
    g.advanceSeconds = committedInterval(value);
    return g;
}
Group withLoop(Group g, bool on) {
    g.loopPlaylist = on ? std::optional<bool>(true) : std::nullopt;
    return g;
}

}  // namespace tip_rules

namespace {
QLabel* text(const QString& s, QWidget* parent, bool secondary = false) {
    auto* l = new QLabel(s, parent);
    if (secondary) l->setForegroundRole(QPalette::PlaceholderText);
    return l;
}
Switch* toggle(const char* name, const QString& label, QWidget* parent) {
    auto* s = new Switch(parent);
    s->setObjectName(QString::fromLatin1(name));
    s->setAccessibleName(label);
    s->setCheckable(true);
    return s;
}
QWidget* switchRow(Switch* s, const QString& label, QWidget* parent, QWidget* tail = nullptr) {
    auto* row = new QWidget(parent);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(8);
    h->addWidget(s);
    h->addWidget(text(label, row));
    if (tail) h->addWidget(tail);
    h->addStretch(1);
    return row;
}
}  // namespace

PlaylistPlaybackTipView::PlaylistPlaybackTipView(AppState& state, StateSignals& stateSignals, std::string groupId,
                                                 QWidget* parent)
    : QWidget(parent), state_(state), groupId_(std::move(groupId)) {
    setObjectName(QStringLiteral("playlistPlaybackTip"));
    setFixedWidth(300);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    body_ = new QWidget(this);
    outer->addWidget(body_);
    auto* v = new QVBoxLayout(body_);
    v->setContentsMargins(16, 16, 16, 16);
    v->setSpacing(12);
    auto* title = text(QStringLiteral("Playlist Playback"), body_);
    QFont f = title->font();
    f.setBold(true);
    title->setFont(f);
    v->addWidget(title);

    auto* trow = new QWidget(body_);
    auto* th = new QHBoxLayout(trow);
    th->setContentsMargins(0, 0, 0, 0);
    th->addWidget(text(QStringLiteral("Transition"), trow, true));
    th->addStretch(1);
    transition_ = new QComboBox(trow);
    transition_->setObjectName(QStringLiteral("tipTransition"));
    transition_->setAccessibleName(QStringLiteral("Transition"));
    transition_->addItems({QStringLiteral("Default"), QStringLiteral("Cut"), QStringLiteral("Fade"),
                           QStringLiteral("Slide"), QStringLiteral("Zoom")});
    th->addWidget(transition_);
    v->addWidget(trow);

    onEnd_ = toggle("tipAdvanceOnEnd", QStringLiteral("Advance when a clip ends"), body_);
    v->addWidget(switchRow(onEnd_, QStringLiteral("Advance when a clip ends"), body_));
    every_ = toggle("tipAdvanceEvery", QStringLiteral("Advance every"), body_);
    seconds_ = new QLineEdit(body_);
    seconds_->setObjectName(QStringLiteral("tipSeconds"));
    seconds_->setAccessibleName(QStringLiteral("Advance interval in seconds"));
    seconds_->setFixedWidth(44);
    auto* unit = text(QStringLiteral("s"), body_, true);
    auto* everyRow = switchRow(every_, QStringLiteral("Advance every"), body_, seconds_);
    static_cast<QHBoxLayout*>(everyRow->layout())->insertWidget(3, unit);
    v->addWidget(everyRow);
    loop_ = toggle("tipLoop", QStringLiteral("Loop playlist"), body_);
    v->addWidget(switchRow(loop_, QStringLiteral("Loop playlist"), body_));
    auto* note = text(QStringLiteral("Applies to every clip in this playlist. A clip's own transition still wins."),
                      body_, true);
    note->setWordWrap(true);
    v->addWidget(note);

    connect(transition_, &QComboBox::activated, this,
            [this](int row) { write([row](Group g) { return tip_rules::withTransition(std::move(g), row); }); });
    connect(onEnd_, &QAbstractButton::toggled, this,
            [this](bool on) { write([on](Group g) { return tip_rules::withAdvanceOnEnd(std::move(g), on); }); });
    connect(every_, &QAbstractButton::toggled, this,
            [this](bool on) { write([on](Group g) { return tip_rules::withAdvanceEvery(std::move(g), on); }); });
    connect(loop_, &QAbstractButton::toggled, this,
            [this](bool on) { write([on](Group g) { return tip_rules::withLoop(std::move(g), on); }); });
    connect(seconds_, &QLineEdit::editingFinished, this, [this] {
        bool ok = false;
        double value = QLocale().toDouble(seconds_->text(), &ok);
        if (!ok) value = std::nan("");
        write([value](Group g) { return tip_rules::withInterval(std::move(g), value); });
    });

    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(stateSignals, {Aspect::groups});
    refresh();
}

void PlaylistPlaybackTipView::write(const std::function<Group(Group)>& change) {
    const Group* g = board::findGroup(state_.library, groupId_);
    if (!g) return;
    state_.library.updateGroup(change(*g));
}

void PlaylistPlaybackTipView::refresh() {
    const Group* g = board::findGroup(state_.library, groupId_);
    body_->setVisible(g != nullptr);
    if (!g) return;
    const QSignalBlocker b1(transition_), b2(onEnd_), b3(every_), b4(loop_), b5(seconds_);
    transition_->setCurrentIndex(tip_rules::transitionRow(g->transitionType));
    onEnd_->setChecked(g->advanceOnEnd.value_or(false));
    every_->setChecked(g->advanceSeconds.has_value());
    if (!seconds_->hasFocus()) seconds_->setText(tip_rules::intervalText(g->advanceSeconds));
    seconds_->setEnabled(g->advanceSeconds.has_value());
    loop_->setChecked(g->loopPlaylist.value_or(false));
}

}  // namespace ombry::ui
