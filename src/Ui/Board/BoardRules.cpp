#include "Ui/Board/BoardRules.hpp"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace ombry::ui::board_rules {

QString durationLabel(double seconds) {
    if (!std::isfinite(seconds)) seconds = 0;
    return QLocale().toString(seconds, 'f', 1) + QStringLiteral(" s");
}

bool showsEmptyBoard(const std::vector<BoardSection>& sections, bool playlistsSelected) {
    if (sections.empty()) return true;
    if (playlistsSelected) return false;
    return std::all_of(sections.begin(), sections.end(), [](const BoardSection& s) { return s.items.empty(); });
}

QString emptyBoardTitle(bool hasMedia) {
    return hasMedia ? QStringLiteral("No media matches your search.") : QStringLiteral("No media yet.");
}

QString itemCount(std::size_t count) {
    return QString::number(qulonglong(count)) + (count == 1 ? QStringLiteral(" item") : QStringLiteral(" items"));
}

QString emptySectionHint(const std::string& sectionId) {
    return sectionId == "unsorted"
               ? QStringLiteral("Empty \u2014 drag clips here to remove them from playlists.")
               : QStringLiteral("Empty \u2014 drop media or files here to add them to this playlist.");
}

long long advanceWholeSeconds(double seconds) { return static_cast<long long>(clampedAdvanceSeconds(seconds)); }

std::vector<PlaybackChip> playbackChips(const Group& group) {
    std::vector<PlaybackChip> chips;
    if (group.advanceSeconds) {
        const long long s = advanceWholeSeconds(*group.advanceSeconds);
        chips.push_back({"timer", QStringLiteral("%1s").arg(s), QStringLiteral("Advances every %1 seconds").arg(s)});
    }
    if (group.advanceOnEnd.value_or(false)) chips.push_back({"forward.end", {}, QStringLiteral("Advances when a clip ends")});
    if (group.loopPlaylist.value_or(false)) chips.push_back({"repeat", {}, QStringLiteral("Loops the playlist")});
    return chips;
}

double edgeSpeed(double distance) {
    constexpr double zone = 60;
    if (!(distance < zone)) return 0;
    const double t = std::min(1.0, (zone - distance) / zone);
    return std::max(25.0, 1000 * t * t);
}

double scrollVelocity(const QRectF& visible, QPointF pointer) {
    constexpr double side = 20;
    if (pointer.x() < visible.left() - side || pointer.x() > visible.right() + side) return 0;
    const double up = edgeSpeed(pointer.y() - visible.top());
    const double down = edgeSpeed(visible.bottom() - pointer.y());
    if (down != 0 && down >= up) return down;
    return -up;
}

CardBorder cardBorder(bool live, bool selected, bool hovered) {
    if (live) return CardBorder::live;
    if (selected) return CardBorder::selected;
    if (hovered) return CardBorder::hovered;
    return CardBorder::plain;
}

double borderWidth(CardBorder border) {
    return border == CardBorder::live || border == CardBorder::selected ? 2 : 1;
}

CardBadge cardBadge(bool live, bool offline) {
    if (live) return CardBadge::live;
    if (offline) return CardBadge::offline;
    return CardBadge::none;
}

QString tooltip(bool live, bool offline) {
    if (offline) return QStringLiteral("File missing \u2014 right-click to relink");
    if (live) return QStringLiteral("Click to take off air");
    return QStringLiteral("Click to take live");
}

QString accessibleValue(bool live, bool offline, const QString& detail) {
    if (live) return QStringLiteral("Live");
    if (offline) return QStringLiteral("Offline");
    return detail;
}

LayerId effectiveLayer(const MediaItem& item) {
    if (item.layer) return *item.layer;
    return item.kind == MediaKind::audio ? LayerId::audio : LayerId::media;
}

QString layerChipText(LayerId layer) {
    switch (layer) {
        case LayerId::background: return QStringLiteral("BG");
        case LayerId::overlay: return QStringLiteral("OVL");
        case LayerId::audio: return QStringLiteral("AUD");
        case LayerId::media: break;
    }
    return QStringLiteral("MED");
}

QColor layerChipTint(LayerId layer) {
    switch (layer) {
        case LayerId::background: return QColor(64, 200, 224);   // teal
        case LayerId::overlay: return QColor(191, 90, 242);      // purple
        case LayerId::audio: return QColor(255, 159, 10);        // orange
        case LayerId::media: break;
    }
    return QColor(10, 132, 255);  // blue
}

std::string kindSymbol(MediaKind kind) {
    switch (kind) {
        case MediaKind::image: return "photo";
        case MediaKind::audio: return "music.note";
        case MediaKind::video: break;
    }
    return "film";
}

int dropIndex(const std::vector<std::string>& ids, const FrameMap& frames, QPointF point) {
    const double x = point.x(), y = point.y();
    for (std::size_t i = 0; i < ids.size(); ++i) {
        auto it = frames.find(ids[i]);
        if (it == frames.end()) continue;
        const QRectF& f = it->second;
        if (y < f.top()) return int(i);
        if (y <= f.bottom() && x < f.center().x()) return int(i);
    }
    return int(ids.size());
}

std::optional<InsertionLine> insertionLine(const std::vector<std::string>& ids, const FrameMap& frames, int index) {
    if (ids.empty()) return std::nullopt;
    if (index >= 0 && std::size_t(index) < ids.size())
        if (auto it = frames.find(ids[std::size_t(index)]); it != frames.end())
            return InsertionLine{it->second.left() - 6, it->second.top(), it->second.bottom()};
    if (auto it = frames.find(ids.back()); it != frames.end())
        return InsertionLine{it->second.right() + 6, it->second.top(), it->second.bottom()};
    return std::nullopt;
}

std::set<std::string> idsIntersecting(const FrameMap& frames, const QRectF& rect) {
    std::set<std::string> ids;
    for (const auto& [id, f] : frames)
        if (f.intersects(rect)) ids.insert(id);
    return ids;
}

QRectF marqueeRect(QPointF anchor, QPointF point) {
    return QRectF(std::min(anchor.x(), point.x()), std::min(anchor.y(), point.y()), std::abs(anchor.x() - point.x()),
                  std::abs(anchor.y() - point.y()));
}

}  // namespace ombry::ui::board_rules
