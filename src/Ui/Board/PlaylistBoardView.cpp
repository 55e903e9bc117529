#include "Ui/Board/PlaylistBoardView.hpp"

#include <QButtonGroup>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <iterator>
#include <cmath>

#include "Ui/Board/CardMenuModel.hpp"
#include "Ui/Board/DragAutoScroller.hpp"
#include "Ui/Board/IncomingSection.hpp"
#include "Ui/Board/MediaCard.hpp"
#include "Ui/Board/PlaylistPlaybackTip.hpp"
#include "Ui/Board/PlaylistSection.hpp"
#include "Ui/Board/ThumbnailLoader.hpp"
#include "Ui/Bridge/DesktopSeams.hpp"
#include "Ui/Bridge/Preferences.hpp"
#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Bridge/WindowRegistry.hpp"
#include "Ui/Widgets/Popover.hpp"

namespace ombry::ui {

namespace rules = board_rules;

namespace {
constexpr std::array<AppTransition, 4> transitionCases{AppTransition::cut, AppTransition::fade, AppTransition::slide,
                                                       AppTransition::zoom};
QString transitionLabel(AppTransition t) {
    switch (t) {
        case AppTransition::cut: return QStringLiteral("Cut");
        case AppTransition::slide: return QStringLiteral("Slide");
        case AppTransition::zoom: return QStringLiteral("Zoom");
        case AppTransition::fade: break;
    }
    return QStringLiteral("Fade");
}
QFont pixelFont(int px, QFont::Weight weight) {
    QFont f;
    f.setPixelSize(px);
    f.setWeight(weight);
    return f;
}
}  // namespace

// The cloud inbox's rows still to process, in the order the inbox listed them.
std::vector<IncomingDownload> incomingDownloads(const AppState& state) {
    std::vector<IncomingDownload> rows;
    rows.reserve(state.cloudDownloads().size());
    for (const CloudDownload& d : state.cloudDownloads()) rows.push_back({d.id, d.name, d.kind, d.received, d.total});
    return rows;
}

void CardFrames::keep(const std::set<std::string>& ids) {
    for (auto it = frames.begin(); it != frames.end();)
        it = ids.count(it->first) ? std::next(it) : frames.erase(it);
}

// Draws the marquee over the content; takes no mouse.
class PlaylistBoardView::Overlay final : public QWidget {
public:
    explicit Overlay(PlaylistBoardView* board, QWidget* parent) : QWidget(parent), board_(board) {
        setObjectName(QStringLiteral("marqueeOverlay"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const auto r = board_->marquee();
        if (!r) return;
        QPainter p(this);
        QColor accent = palette().color(QPalette::Highlight);
        QColor fill = accent;
        fill.setAlphaF(0.12f);
        accent.setAlphaF(0.7f);
        p.fillRect(*r, fill);
        p.setPen(QPen(accent, 1));
        p.drawRect(r->adjusted(0.5, 0.5, -0.5, -0.5));
    }

private:
    PlaylistBoardView* board_;
};

PlaylistBoardView::PlaylistBoardView(const ViewContext& context, QWidget* parent, ThumbnailLoader* thumbnails)
    : QScrollArea(parent), context_(context), thumbnails_(thumbnails ? *thumbnails : ThumbnailLoader::shared()) {
    installMediaCardAccessibility();
    setObjectName(QStringLiteral("board"));
    setAccessibleName(QStringLiteral("Playlist board"));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setMinimumWidth(476);
    setFocusPolicy(Qt::NoFocus);

    scroller_ = new DragAutoScroller(context.pointer, this);
    scroller_->probe = this;

    content_ = new QWidget;
    content_->setObjectName(QStringLiteral("boardContent"));
    // Opaque, so a scroll moves the painted board and repaints only the strip it uncovers.
    content_->setAutoFillBackground(true);
    content_->installEventFilter(this);
    column_ = new QVBoxLayout(content_);
    column_->setContentsMargins(18, 12, 18, 38);
    column_->setSpacing(22);
    buildHeader();
    column_->addWidget(header_);
    incoming_ = new IncomingSection(content_);
    column_->addWidget(incoming_);
    sectionsBox_ = new QWidget(content_);
    sectionsBox_->setObjectName(QStringLiteral("boardSections"));
    sectionsLayout_ = new QVBoxLayout(sectionsBox_);
    sectionsLayout_->setContentsMargins(0, 0, 0, 0);
    sectionsLayout_->setSpacing(22);
    column_->addWidget(sectionsBox_);
    emptyBoard_ = new EmptyBoard(context.state, content_);
    column_->addWidget(emptyBoard_);
    column_->addStretch(1);
    overlay_ = new Overlay(this, content_);
    setWidget(content_);

    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(context.stateSignals, {Aspect::program, Aspect::groups, Aspect::media, Aspect::offlineIds,
                                        Aspect::sidebarSelection, Aspect::clipSelection, Aspect::search,
                                        Aspect::project, Aspect::sequenceEncode, Aspect::cloudDownloads});
    connect(&context.preferences, &Preferences::changed, this, [this](const QString& key) {
        if (key == QLatin1String(Preferences::tileSizeKey)) gate_->poke();
    });
    refresh();
}

PlaylistBoardView::~PlaylistBoardView() { scroller_->stop(); }

void PlaylistBoardView::buildHeader() {
    header_ = new QWidget(content_);
    header_->setObjectName(QStringLiteral("boardHeader"));
    headerColumn_ = new QVBoxLayout(header_);
    headerColumn_->setContentsMargins(0, 0, 0, 0);
    headerColumn_->setSpacing(10);
    auto* row = new QWidget(header_);
    headerRow_ = new QHBoxLayout(row);
    headerRow_->setContentsMargins(0, 0, 0, 0);
    headerRow_->setSpacing(14);

    titleBlock_ = new QWidget(row);
    auto* tb = new QVBoxLayout(titleBlock_);
    tb->setContentsMargins(0, 0, 0, 0);
    tb->setSpacing(2);
    title_ = new QLabel(titleBlock_);
    title_->setObjectName(QStringLiteral("boardTitle"));
    title_->setFont(pixelFont(20, QFont::Bold));
    title_->setTextFormat(Qt::PlainText);
    subtitle_ = new QLabel(titleBlock_);
    subtitle_->setObjectName(QStringLiteral("boardSubtitle"));
    subtitle_->setFont(pixelFont(12, QFont::Normal));
    subtitle_->setForegroundRole(QPalette::PlaceholderText);
    tb->addWidget(title_);
    tb->addWidget(subtitle_);

    controls_ = new QWidget(row);
    controls_->setObjectName(QStringLiteral("transitionControls"));
    auto* cl = new QHBoxLayout(controls_);
    cl->setContentsMargins(0, 0, 0, 0);
    cl->setSpacing(14);
    auto* picker = new QWidget(controls_);
    picker->setObjectName(QStringLiteral("masterTransition"));
    picker->setAccessibleName(QStringLiteral("Master Transition"));
    picker->setToolTip(QStringLiteral("Master transition"));
    auto* pl = new QHBoxLayout(picker);
    pl->setContentsMargins(0, 0, 0, 0);
    pl->setSpacing(0);
    transitions_ = new QButtonGroup(picker);
    transitions_->setExclusive(true);
    for (std::size_t i = 0; i < transitionCases.size(); ++i) {
        auto* b = new QToolButton(picker);
        b->setText(transitionLabel(transitionCases[i]));
        b->setObjectName(QStringLiteral("transition") + transitionLabel(transitionCases[i]));
        b->setAccessibleName(QStringLiteral("Master Transition ") + transitionLabel(transitionCases[i]));
        b->setToolTip(QStringLiteral("Master transition"));
        b->setCheckable(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRaise(false);
        transitions_->addButton(b, int(i));
        pl->addWidget(b);
    }
    connect(transitions_, &QButtonGroup::idClicked, this,
            [this](int id) { context_.state.masterTransition = transitionCases[std::size_t(id)]; });
    duration_ = new QSlider(Qt::Horizontal, controls_);
    duration_->setObjectName(QStringLiteral("transitionDuration"));
    duration_->setAccessibleName(QStringLiteral("Transition duration"));
    duration_->setToolTip(QStringLiteral("Transition duration"));
    duration_->setRange(0, 200);
    duration_->setFixedWidth(110);
    duration_->setFocusPolicy(Qt::NoFocus);
    durationLabel_ = new QLabel(controls_);
    durationLabel_->setObjectName(QStringLiteral("transitionDurationLabel"));
    durationLabel_->setFont(pixelFont(12, QFont::Normal));
    durationLabel_->setForegroundRole(QPalette::PlaceholderText);
    connect(duration_, &QSlider::valueChanged, this, [this](int v) {
        context_.state.transitionDuration = v / 100.0;
        durationLabel_->setText(rules::durationLabel(v / 100.0));
    });
    cl->addWidget(picker);
    cl->addWidget(duration_);
    cl->addWidget(durationLabel_);

    headerRow_->addWidget(titleBlock_);
    headerRow_->addStretch(1);
    headerRow_->addWidget(controls_);
    headerColumn_->addWidget(row);
}

void PlaylistBoardView::layoutHeader() {
    // The room the content column gives the header (its side insets are 18 each).
    const int available = viewport()->width() - 36;
    const int need = titleBlock_->sizeHint().width() + 16 + 2 * 14 + controls_->sizeHint().width();
    const bool narrow = available < need;
    if (narrow == narrow_) return;
    narrow_ = narrow;
    if (narrow) {
        headerRow_->removeWidget(controls_);
        headerColumn_->addWidget(controls_, 0, Qt::AlignLeft);
    } else {
        headerColumn_->removeWidget(controls_);
        headerRow_->addWidget(controls_);
    }
}

void PlaylistBoardView::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    layoutHeader();
    overlay_->setGeometry(content_->rect());
}

bool PlaylistBoardView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Resize) layoutHeader();
    return QScrollArea::viewportEvent(event);
}

PlaylistSection* PlaylistBoardView::section(const std::string& id) const {
    for (PlaylistSection* s : sections_)
        if (s->section().id == id) return s;
    return nullptr;
}

void PlaylistBoardView::refresh() {
    AppState& state = context_.state;
    const std::vector<BoardSection> sections = state.boardSections();
    const bool selected = !state.selectedPlaylistIds().empty();
    title_->setText(QString::fromStdString(state.boardTitle()));
    subtitle_->setText(QString::fromStdString(state.boardSubtitle()));
    for (std::size_t i = 0; i < transitionCases.size(); ++i)
        if (transitionCases[i] == state.masterTransition) transitions_->button(int(i))->setChecked(true);
    if (!duration_->isSliderDown()) {
        const double d = std::isfinite(state.transitionDuration) ? state.transitionDuration : 0;
        const QSignalBlocker block(duration_);
        duration_->setValue(int(std::lround(std::clamp(d, 0.0, 2.0) * 100)));
        durationLabel_->setText(rules::durationLabel(d));
    }

    const bool empty = rules::showsEmptyBoard(sections, selected);
    emptyBoard_->setVisible(empty);
    sectionsBox_->setVisible(!empty);
    if (empty) emptyBoard_->setHasMedia(!state.library.media().empty());
    const TileSize tile = context_.preferences.tileSize();
    incoming_->set(incomingDownloads(state), state.sequenceEncode(), tile);

    std::map<std::string, PlaylistSection*> pool;
    for (PlaylistSection* s : sections_) pool[s->section().id] = s;
    std::vector<PlaylistSection*> next;
    if (!empty) {
        next.reserve(sections.size());
        for (const BoardSection& bs : sections) {
            PlaylistSection* s = nullptr;
            if (auto it = pool.find(bs.id); it != pool.end()) {
                s = it->second;
                pool.erase(it);
            } else {
                s = new PlaylistSection(state, context_.pointer, thumbnails_, *scroller_, sectionsBox_);
                s->onCardMenu = [this](const MediaItem& clip, const std::optional<std::string>& gid, QPoint at) {
                    openCardMenu(clip, gid, at);
                };
                s->onPlaybackSettings = [this](const std::string& gid, QWidget* anchor) { openPlaybackTip(gid, anchor); };
            }
            s->setSection(bs, tile);
            next.push_back(s);
        }
    }
    for (auto& [id, s] : pool) {
        s->hide();
        s->deleteLater();
    }
    if (next != sections_) {
        while (QLayoutItem* li = sectionsLayout_->takeAt(0)) delete li;
        for (PlaylistSection* s : next) {
            sectionsLayout_->addWidget(s);
            s->show();
        }
    }
    sections_ = std::move(next);

    std::set<std::string> live;
    const auto& layers = state.program.state().layers;
    for (LayerId l : {LayerId::background, LayerId::media, LayerId::overlay, LayerId::audio})
        if (const auto& a = layers[l].active) live.insert(a->mediaId);
    for (PlaylistSection* s : sections_) s->updateFlags(live, state.library.offlineIds(), state.selectedIds());

    std::vector<std::string> ids = board::visibleIds(sections);
    if (ids != visibleIds_) {
        frames_.keep(std::set<std::string>(ids.begin(), ids.end()));
        visibleIds_ = std::move(ids);
    }
    overlay_->raise();
}

QMenu* PlaylistBoardView::openCardMenu(const MediaItem& clip, const std::optional<std::string>& groupId, QPoint at) {
    if (menu_) menu_->close();
    CardMenuActions actions;
    WindowRegistry* windows = &context_.windows;
    actions.openProperties = [windows] { windows->open(QStringLiteral("properties")); };
    FileReveal* reveal = context_.reveal;
    actions.reveal = [reveal](const std::string& path) {
        if (reveal) reveal->reveal({std::filesystem::path(path)});
    };
    // Parented to the board, which outlives the refresh that a chosen entry causes.
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("cardMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    renderCardMenu(*menu, ui::cardMenu(context_.state, clip, groupId, actions));
    menu_ = menu;
    if (!at.isNull()) menu->popup(at);
    return menu;
}

Popover* PlaylistBoardView::openPlaybackTip(const std::string& groupId, QWidget* anchor) {
    if (tip_) tip_->close();
    auto* popover = new Popover(this);
    popover->setObjectName(QStringLiteral("playbackPopover"));
    popover->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(popover);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new PlaylistPlaybackTipView(context_.state, context_.stateSignals, groupId, popover));
    tip_ = popover;
    const QRect at = anchor ? QRect(anchor->mapToGlobal(QPoint(0, 0)), anchor->size()) : QRect(mapToGlobal(QPoint()), QSize());
    popover->showAt(at);
    return popover;
}

CardFrames& PlaylistBoardView::cardFrames() {
    for (PlaylistSection* s : sections_)
        for (MediaCard* c : s->cards())
            frames_.frames[c->id()] = QRectF(QRect(c->mapTo(content_, QPoint(0, 0)), c->size()));
    return frames_;
}

bool PlaylistBoardView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == content_) {
        // The content is the board's background: its presses are the marquee's or nobody's.
        switch (event->type()) {
            case QEvent::MouseButtonPress: {
                auto* e = static_cast<QMouseEvent*>(event);
                if (e->button() != Qt::LeftButton) return true;
                // Only the content column takes the gesture, not the room below its last part.
                const QWidget* last = sectionsBox_->isVisible() ? sectionsBox_ : static_cast<QWidget*>(emptyBoard_);
                if (e->position().y() > last->geometry().bottom()) return true;
                pressAt_ = e->position();
                return true;
            }
            case QEvent::MouseMove: {
                auto* e = static_cast<QMouseEvent*>(event);
                if (pressAt_) marqueeMove(e->position());
                return true;
            }
            case QEvent::MouseButtonRelease: {
                auto* e = static_cast<QMouseEvent*>(event);
                if (e->button() == Qt::LeftButton && pressAt_) marqueeRelease();
                return true;
            }
            case QEvent::Resize: overlay_->setGeometry(content_->rect()); break;
            default: break;
        }
    }
    return QScrollArea::eventFilter(watched, event);
}

void PlaylistBoardView::marqueeMove(QPointF at) {
    if (!marquee_) {
        const QPointF d = at - *pressAt_;
        if (std::hypot(d.x(), d.y()) < rules::clickThreshold) return;
        const Qt::KeyboardModifiers mods = context_.pointer.modifiers();
        marqueeBase_ = (mods & (Qt::ShiftModifier | Qt::ControlModifier)) ? context_.state.selectedIds()
                                                                          : std::set<std::string>{};
        marqueeAnchor_ = *pressAt_;
        cardFrames();
        scroller_->begin();
        scroller_->onScroll = [this](double dy) {
            marqueePoint_.ry() += dy;
            updateMarquee();
        };
    }
    marqueePoint_ = at;
    updateMarquee();
}

void PlaylistBoardView::updateMarquee() {
    marquee_ = rules::marqueeRect(marqueeAnchor_, marqueePoint_);
    overlay_->update();
    std::set<std::string> ids = marqueeBase_;
    ids.merge(frames_.ids(*marquee_));
    if (ids != context_.state.selectedIds()) context_.state.setSelectedIds(std::move(ids));
}

void PlaylistBoardView::marqueeRelease() {
    if (!marquee_) context_.state.clearClipSelection();
    pressAt_.reset();
    marquee_.reset();
    marqueeBase_.clear();
    scroller_->onScroll = nullptr;
    scroller_->stop();
    overlay_->update();
}

}  // namespace ombry::ui
