#include "Ui/Board/PlaylistSection.hpp"

#include <QDrag>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include "Ui/Board/DragAutoScroller.hpp"
#include "Ui/Board/MediaCard.hpp"
#include "Ui/Board/ThumbnailLoader.hpp"
#include "Ui/Bridge/DesktopSeams.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/FlowGridLayout.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace rules = board_rules;

namespace {

QColor qcolor(const Rgba& c) { return QColor::fromRgbF(float(c.r), float(c.g), float(c.b), float(c.a)); }

QFont pixelFont(int px, QFont::Weight weight) {
    QFont f;
    f.setPixelSize(px);
    f.setWeight(weight);
    return f;
}

bool acceptable(const QMimeData* data) { return data && (data->hasText() || data->hasUrls()); }

}  // namespace

std::vector<std::string> droppedPaths(const QMimeData& data) {
    std::vector<std::string> paths;
    for (const QUrl& url : data.urls())
        if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
    return paths;
}

// ---- EmptyPlaylistDrop ----

EmptyPlaylistDrop::EmptyPlaylistDrop(QWidget* parent) : QWidget(parent), label_(new QLabel(this)) {
    setObjectName(QStringLiteral("emptyPlaylistDrop"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 26, 8, 26);
    label_->setObjectName(QStringLiteral("emptyPlaylistHint"));
    label_->setAlignment(Qt::AlignCenter);
    label_->setFont(pixelFont(12, QFont::Normal));
    label_->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(label_);
}

void EmptyPlaylistDrop::setHint(const QString& hint) { label_->setText(hint); }
QString EmptyPlaylistDrop::hint() const { return label_->text(); }
QSize EmptyPlaylistDrop::sizeHint() const { return {200, label_->sizeHint().height() + 52}; }

void EmptyPlaylistDrop::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(theme::hairline(), 1);
    pen.setDashPattern({5, 4});
    p.setPen(pen);
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
}

// ---- the drop indicator, over the section, taking no mouse ----

class PlaylistSection::Indicator final : public QWidget {
public:
    explicit Indicator(PlaylistSection* section) : QWidget(section), section_(section) {
        setObjectName(QStringLiteral("dropIndicator"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const auto index = section_->insertionIndex();
        if (!index) return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor tint = qcolor(section_->section().tint);
        if (section_->section().items.empty()) {
            p.setPen(QPen(tint, 2));
            p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 10, 10);
            return;
        }
        if (const auto line = section_->insertionLine(*index)) {
            p.setPen(QPen(tint, 2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(line->x, line->top), QPointF(line->x, line->bottom));
        }
    }

private:
    PlaylistSection* section_;
};

// ---- PlaylistSection ----

PlaylistSection::PlaylistSection(AppState& state, PointerState& pointer, ThumbnailLoader& thumbnails,
                                 DragAutoScroller& scroller, QWidget* parent)
    : QWidget(parent), state_(state), pointer_(pointer), thumbnails_(thumbnails), scroller_(scroller) {
    setObjectName(QStringLiteral("playlistSection"));
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(10);

    header_ = new QWidget(this);
    header_->setObjectName(QStringLiteral("sectionHeader"));
    auto* h = new QHBoxLayout(header_);
    h->setContentsMargins(11, 7, 11, 7);
    h->setSpacing(8);
    symbol_ = new QLabel(header_);
    symbol_->setObjectName(QStringLiteral("sectionSymbol"));
    title_ = new QLabel(header_);
    title_->setObjectName(QStringLiteral("sectionTitle"));
    title_->setTextFormat(Qt::PlainText);
    title_->setFont(pixelFont(13, QFont::DemiBold));
    count_ = new QLabel(header_);
    count_->setObjectName(QStringLiteral("sectionCount"));
    count_->setFont(pixelFont(11, QFont::Normal));
    count_->setForegroundRole(QPalette::PlaceholderText);
    chips_ = new QWidget(header_);
    chips_->setObjectName(QStringLiteral("playbackChips"));
    chipsLayout_ = new QHBoxLayout(chips_);
    chipsLayout_->setContentsMargins(0, 0, 2, 0);
    chipsLayout_->setSpacing(8);
    h->addWidget(symbol_);
    h->addWidget(title_);
    h->addWidget(count_);
    h->addStretch(1);
    h->addWidget(chips_);
    auto* playback = new QToolButton(header_);
    playback->setObjectName(QStringLiteral("playbackSettings"));
    playback->setToolTip(QStringLiteral("Playback settings"));
    playback->setAccessibleName(QStringLiteral("Playlist playback settings"));
    playback->setIcon(symbols::icon("ellipsis.circle", 14, palette().color(QPalette::PlaceholderText)));
    playback->setAutoRaise(true);
    playback->setFocusPolicy(Qt::NoFocus);
    connect(playback, &QToolButton::clicked, this, [this] {
        if (section_.groupId && onPlaybackSettings) onPlaybackSettings(*section_.groupId, playback_);
    });
    playback_ = playback;
    h->addWidget(playback);
    layout->addWidget(header_);

    grid_ = new QWidget(this);
    grid_->setObjectName(QStringLiteral("cardGrid"));
    gridLayout_ = new FlowGridLayout(grid_, 12);
    gridLayout_->setRowSpacing(14);
    layout->addWidget(grid_);
    empty_ = new EmptyPlaylistDrop(this);
    layout->addWidget(empty_);

    indicator_ = new Indicator(this);
}

MediaCard* PlaylistSection::card(const std::string& id) const {
    for (MediaCard* c : cards_)
        if (c->id() == id) return c;
    return nullptr;
}

void PlaylistSection::setSection(const BoardSection& section, TileSize tile) {
    const bool retitled = section.title != section_.title || section.symbol != section_.symbol ||
                          !(section.tint == section_.tint) || section_.id.empty();
    section_ = section;
    setProperty("sectionId", QString::fromStdString(section.id));
    if (retitled) {
        title_->setText(QString::fromStdString(section.title));
        const QColor tint = qcolor(section.tint);
        symbol_->setPixmap(symbols::pixmap(section.symbol, 14, tint));
        setAccessibleName(QString::fromStdString(section.title));
        header_->setAccessibleName(QString::fromStdString(section.title));
        update();
    }
    count_->setText(rules::itemCount(section.items.size()));
    playback_->setVisible(section.groupId.has_value());
    rebuildChips(section.groupId ? board::findGroup(state_.library, *section.groupId) : nullptr);

    // Cards by id: the ones still shown are kept, new ones made, the rest go.
    std::unordered_map<std::string, std::vector<MediaCard*>> pool;
    for (MediaCard* c : cards_) pool[c->id()].push_back(c);
    std::vector<MediaCard*> next;
    next.reserve(section.items.size());
    bool reordered = cards_.size() != section.items.size() || tile != tile_;
    for (std::size_t i = 0; i < section.items.size(); ++i) {
        const MediaItem& item = section.items[i];
        MediaCard* c = nullptr;
        if (auto it = pool.find(item.id); it != pool.end() && !it->second.empty()) {
            c = it->second.back();
            it->second.pop_back();
        } else {
            c = new MediaCard(state_, thumbnails_, grid_);
            connect(c, &MediaCard::clicked, this, &PlaylistSection::onCardClicked);
            connect(c, &MediaCard::dragStarted, this, &PlaylistSection::onCardDrag);
            connect(c, &MediaCard::menuRequested, this, [this](const QString& cid, QPoint at) {
                if (MediaCard* m = card(cid.toStdString()); m && onCardMenu) onCardMenu(m->item(), section_.groupId, at);
            });
            reordered = true;
        }
        c->setItem(item);
        c->setTile(tile);
        if (!reordered && cards_[i] != c) reordered = true;
        next.push_back(c);
    }
    for (auto& [id, rest] : pool)
        for (MediaCard* c : rest) {
            c->hide();
            c->deleteLater();  // a card may be the source of the drag that is dropping now
        }
    cards_ = std::move(next);
    tile_ = tile;
    if (reordered) {
        while (QLayoutItem* li = gridLayout_->takeAt(0)) delete li;
        gridLayout_->setItemWidth(metrics(tile).cardWidth);
        for (MediaCard* c : cards_) {
            gridLayout_->addWidget(c);
            c->show();
        }
        gridLayout_->invalidate();
    }
    const bool empty = section.items.empty();
    grid_->setVisible(!empty);
    empty_->setVisible(empty);
    if (empty) empty_->setHint(rules::emptySectionHint(section.id));
}

void PlaylistSection::rebuildChips(const Group* group) {
    std::vector<rules::PlaybackChip> chips;
    if (group) chips = rules::playbackChips(*group);
    std::vector<std::string> keys;
    for (const auto& c : chips) keys.push_back(c.symbol + "|" + c.text.toStdString());
    if (keys == chipKeys_) return;
    chipKeys_ = keys;
    while (QLayoutItem* li = chipsLayout_->takeAt(0)) {
        delete li->widget();
        delete li;
    }
    const QColor dim = palette().color(QPalette::PlaceholderText);
    for (const auto& c : chips) {
        auto* chip = new QWidget(chips_);
        chip->setObjectName(QString::fromStdString("chip." + c.symbol));
        chip->setToolTip(c.help);
        chip->setAccessibleName(c.help);
        auto* row = new QHBoxLayout(chip);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(3);
        auto* icon = new QLabel(chip);
        icon->setPixmap(symbols::pixmap(c.symbol, 12, dim));
        row->addWidget(icon);
        if (!c.text.isEmpty()) {
            auto* text = new QLabel(c.text, chip);
            text->setObjectName(QStringLiteral("chipText"));
            text->setFont(pixelFont(10, QFont::DemiBold));
            text->setForegroundRole(QPalette::PlaceholderText);
            row->addWidget(text);
        }
        chipsLayout_->addWidget(chip);
    }
    chips_->setVisible(!chips.empty());
}

void PlaylistSection::updateFlags(const std::set<std::string>& live, const std::set<std::string>& offline,
                                  const std::set<std::string>& selected) {
    for (MediaCard* c : cards_) c->setFlags(live.count(c->id()) > 0, offline.count(c->id()) > 0, selected.count(c->id()) > 0);
}

void PlaylistSection::onCardClicked(const QString& qid) {
    const std::string id = qid.toStdString();
    const Qt::KeyboardModifiers mods = pointer_.modifiers();
    if (mods & Qt::ControlModifier) {
        state_.toggleClipSelection(id);
        return;
    }
    if (mods & Qt::ShiftModifier) {
        state_.extendClipSelection(id);
        return;
    }
    state_.clearClipSelection();
    if (const MediaItem* m = state_.library.item(id)) {
        const MediaItem item = *m;
        state_.trigger(item, false);
    }
}

QMimeData* PlaylistSection::dragData(const std::string& id) {
    auto* data = new QMimeData;
    data->setText(QString::fromStdString(id));
    return data;
}

void PlaylistSection::onCardDrag(const QString& qid) {
    MediaCard* source = card(qid.toStdString());
    if (!source) return;
    const MediaItem item = source->item();
    const int count = int(state_.contextTargets(item.id).size());
    auto* drag = new QDrag(source);
    drag->setMimeData(dragData(item.id));
    drag->setPixmap(mediaDragPreview(item, tile_, count, thumbnails_.image(item.id, item.thumbAt, source->thumbnailShape(), nullptr)));
    drag->setHotSpot(QPoint(metrics(tile_).cardWidth / 2, metrics(tile_).thumbnailHeight / 2));
    scroller_.begin();
    drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
    // The drop may have rebuilt this section: nothing of it is touched here.
}

board_rules::FrameMap PlaylistSection::cardFrames() const {
    rules::FrameMap frames;
    frames.reserve(cards_.size());
    for (MediaCard* c : cards_)
        frames[c->id()] = QRectF(QRect(c->mapTo(this, QPoint(0, 0)), c->size()));
    return frames;
}

static std::vector<std::string> idsOfItems(const BoardSection& s) {
    std::vector<std::string> ids;
    ids.reserve(s.items.size());
    for (const auto& m : s.items) ids.push_back(m.id);
    return ids;
}

int PlaylistSection::dropIndex(QPointF at) const { return rules::dropIndex(idsOfItems(section_), cardFrames(), at); }

std::optional<board_rules::InsertionLine> PlaylistSection::insertionLine(int index) const {
    return rules::insertionLine(idsOfItems(section_), cardFrames(), index);
}

void PlaylistSection::setInsertion(std::optional<int> index) {
    insertionIndex_ = index;
    indicator_->setVisible(index.has_value());
    indicator_->raise();
    indicator_->update();
}

void PlaylistSection::resizeEvent(QResizeEvent* event) {
    indicator_->setGeometry(rect());
    QWidget::resizeEvent(event);
}

void PlaylistSection::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill = qcolor(section_.tint);
    fill.setAlphaF(0.13f);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(header_->geometry()), 8, 8);
}

void PlaylistSection::dragEnterEvent(QDragEnterEvent* event) {
    if (!acceptable(event->mimeData())) {
        event->ignore();
        return;
    }
    dropCompleted_ = false;
    setInsertion(dropIndex(event->position()));
    scroller_.begin();
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void PlaylistSection::dragMoveEvent(QDragMoveEvent* event) {
    if (!acceptable(event->mimeData())) {
        event->ignore();
        return;
    }
    scroller_.begin();
    if (!dropCompleted_) {
        const int index = dropIndex(event->position());
        if (insertionIndex_ != index) setInsertion(index);
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void PlaylistSection::dragLeaveEvent(QDragLeaveEvent* event) {
    setInsertion(std::nullopt);
    event->accept();
}

void PlaylistSection::dropEvent(QDropEvent* event) {
    const int index = dropIndex(event->position());
    setInsertion(std::nullopt);
    dropCompleted_ = true;
    scroller_.stop();
    const bool copy = (pointer_.modifiers() & Qt::AltModifier) != 0;
    const QMimeData* data = event->mimeData();
    if (!acceptable(data)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    const BoardSection target = section_;
    const std::string text = data->hasText() ? data->text().toStdString() : std::string();
    const std::vector<std::string> paths = droppedPaths(*data);
    // After the drag has ended: the drop rebuilds the board, and the dragged card with it.
    QMetaObject::invokeMethod(
        this, [this, target, text, paths, index, copy] {
            if (!text.empty() && state_.library.item(text)) {
                state_.handleClipDrop(state_.contextTargets(text), target, index, copy);
                return;
            }
            if (!paths.empty()) state_.dropFiles(paths, target, index);
        },
        Qt::QueuedConnection);
}

// ---- EmptyBoard ----

EmptyBoard::EmptyBoard(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("emptyBoard"));
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 60, 0, 60);
    layout->setSpacing(8);
    auto* symbol = new QLabel(this);
    symbol->setPixmap(symbols::pixmap("square.stack.3d.up.slash", 34, palette().color(QPalette::PlaceholderText)));
    symbol->setAlignment(Qt::AlignCenter);
    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("emptyBoardTitle"));
    title_->setAlignment(Qt::AlignCenter);
    title_->setFont(pixelFont(13, QFont::DemiBold));
    auto* hint = new QLabel(QStringLiteral("Click Add Media, or drag video, image, and audio files here. Drop a PDF to "
                                           "import it as slides, or a run of numbered images to import them as one "
                                           "clip."),
                            this);
    hint->setObjectName(QStringLiteral("emptyBoardHint"));
    hint->setWordWrap(true);
    hint->setAlignment(Qt::AlignCenter);
    hint->setFont(pixelFont(12, QFont::Normal));
    hint->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(symbol);
    layout->addWidget(title_);
    layout->addWidget(hint);
    setHasMedia(false);
}

void EmptyBoard::setHasMedia(bool hasMedia) { title_->setText(board_rules::emptyBoardTitle(hasMedia)); }
QString EmptyBoard::title() const { return title_->text(); }

void EmptyBoard::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
    else event->ignore();
}

void EmptyBoard::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void EmptyBoard::dropEvent(QDropEvent* event) {
    const std::vector<std::string> paths = droppedPaths(*event->mimeData());
    event->acceptProposedAction();
    if (paths.empty()) return;
    QMetaObject::invokeMethod(
        this, [this, paths] { state_.addMedia(paths, std::nullopt, true, true); }, Qt::QueuedConnection);
}

}  // namespace ombry::ui
