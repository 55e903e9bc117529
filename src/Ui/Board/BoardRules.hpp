#pragma once
// The board's texts, rules and geometry as plain functions, tested as tables without a widget.
#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "App/ViewModels.hpp"
#include "Engine/Model/Protocol.hpp"

namespace ombry::ui::board_rules {

// A press that moves less than this is a click.
inline constexpr double clickThreshold = 4;

// The slider's read-out: one fraction digit in the user's locale, then " s" ("0.6 s").
QString durationLabel(double seconds);

// The empty board stands in for the sections when there are none, or when all playlists are shown and
// every section is empty.
bool showsEmptyBoard(const std::vector<BoardSection>& sections, bool playlistsSelected);
QString emptyBoardTitle(bool hasMedia);

// "1 item", "0 items", "12 items".
QString itemCount(std::size_t count);
// The empty section's hint.
QString emptySectionHint(const std::string& sectionId);

// An advance interval as whole seconds: not finite or under 1 s reads 1, above a day 86400.
long long advanceWholeSeconds(double seconds);
// The section header's playback chips, in order.
struct PlaybackChip {
    std::string symbol;
    QString text;  // empty for symbol-only chips
    QString help;
};
std::vector<PlaybackChip> playbackChips(const Group& group);

// The edge auto-scroller: speed (pt/s) toward an edge at distance d inside it (negative: past it).
double edgeSpeed(double distance);
// Velocity for a pointer at py within visible [top, bottom]; positive scrolls toward the end. Zero
// when px is more than 20 pt beside [left, right].
double scrollVelocity(const QRectF& visible, QPointF pointer);

// A card's look, first rule that applies.
enum class CardBorder { live, selected, hovered, plain };
CardBorder cardBorder(bool live, bool selected, bool hovered);
double borderWidth(CardBorder border);
enum class CardBadge { none, live, offline };
CardBadge cardBadge(bool live, bool offline);
QString tooltip(bool live, bool offline);
QString accessibleValue(bool live, bool offline, const QString& detail);
// The effective layer: the override, else audio for audio clips and media for the rest.
LayerId effectiveLayer(const MediaItem& item);
QString layerChipText(LayerId layer);
QColor layerChipTint(LayerId layer);
// "film", "photo", "music.note".
std::string kindSymbol(MediaKind kind);

// Frames of cards by clip id.
using FrameMap = std::unordered_map<std::string, QRectF>;
// The gap a point falls into, counted among the cards shown (0 … ids.size()). Cards without a frame are
// passed over; a y that is not a number passes every card.
int dropIndex(const std::vector<std::string>& ids, const FrameMap& frames, QPointF point);
struct InsertionLine {
    double x, top, bottom;
    bool operator==(const InsertionLine&) const = default;
};
std::optional<InsertionLine> insertionLine(const std::vector<std::string>& ids, const FrameMap& frames, int index);

// Ids whose frames touch the rectangle.
std::set<std::string> idsIntersecting(const FrameMap& frames, const QRectF& rect);
// The marquee's rectangle from its anchor and moving corner.
QRectF marqueeRect(QPointF anchor, QPointF point);

}  // namespace ombry::ui::board_rules
