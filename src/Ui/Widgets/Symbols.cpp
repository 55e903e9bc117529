#include "Ui/Widgets/Symbols.hpp"

#include <QFontDatabase>
#include <QPainter>

#include <array>
#include <utility>

namespace ombry::ui::symbols {
namespace {

// Symbol names of the views on the left, Material ligatures on the right; sorted by name.
constexpr std::array<std::pair<std::string_view, std::string_view>, 76> table{{
    {"antenna.radiowaves.left.and.right", "settings_input_antenna"},
    {"arrow.clockwise", "refresh"},
    {"arrow.counterclockwise", "replay"},
    {"arrow.down.circle", "arrow_circle_down"},
    {"arrow.right", "arrow_forward"},
    {"arrow.triangle.2.circlepath", "sync"},
    {"av.remote", "settings_remote"},
    {"backward.end.fill", "skip_previous"},
    {"bolt.fill", "bolt"},
    {"checkmark", "check"},
    {"checkmark.circle", "check_circle_outline"},
    {"checkmark.circle.fill", "check_circle"},
    {"chevron.down", "expand_more"},
    {"chevron.left", "chevron_left"},
    {"chevron.right", "chevron_right"},
    {"chevron.up", "expand_less"},
    {"chevron.up.chevron.down", "unfold_more"},
    {"circle.slash", "block"},
    {"cloud", "cloud"},
    {"display", "desktop_windows"},
    {"doc.on.doc", "content_copy"},
    {"ellipsis", "more_horiz"},
    {"ellipsis.circle", "more_horiz"},
    {"exclamationmark.circle.fill", "error"},
    {"exclamationmark.shield", "lock_open"},
    {"exclamationmark.triangle", "warning"},
    {"exclamationmark.triangle.fill", "warning"},
    {"film", "movie"},
    {"film.stack", "video_library"},
    {"folder", "folder"},
    {"forward.end.fill", "skip_next"},
    {"gearshape", "settings"},
    {"globe", "language"},
    {"info.circle", "info"},
    {"iphone", "smartphone"},
    {"link", "link"},
    {"list.bullet", "format_list_bulleted"},
    {"lock.shield", "lock"},
    {"magnifyingglass", "search"},
    {"minus", "remove"},
    {"music.note", "music_note"},
    {"pause.fill", "pause"},
    {"pencil", "edit"},
    {"photo", "image"},
    {"play.fill", "play_arrow"},
    {"play.rectangle", "slideshow"},
    {"play.tv.fill", "live_tv"},
    {"plus", "add"},
    {"plus.circle", "add_circle_outline"},
    {"qrcode", "qr_code"},
    {"rectangle.on.rectangle", "filter_none"},
    {"rectangle.stack", "layers"},
    {"repeat", "repeat"},
    {"sidebar.leading", "view_sidebar"},
    {"slider.horizontal.3", "tune"},
    {"sparkles", "auto_awesome"},
    {"speaker.slash.fill", "volume_off"},
    {"speaker.wave.2.fill", "volume_up"},
    {"square.and.arrow.down", "file_download"},
    {"square.and.arrow.up", "ios_share"},
    {"square.grid.2x2", "grid_view"},
    {"square.grid.3x3", "apps"},
    {"square.stack", "layers"},
    {"star.fill", "star"},
    {"stop.fill", "stop"},
    {"text.bubble", "chat"},
    {"timer", "timer"},
    {"trash", "delete"},
    {"tray", "inbox"},
    {"tray.and.arrow.down", "move_to_inbox"},
    {"tv", "tv"},
    {"wave.3.right", "wifi"},
    {"waveform", "graphic_eq"},
    {"wifi", "wifi"},
    {"xmark", "close"},
    {"xmark.circle.fill", "cancel"},
}};

constexpr bool sorted() {
    for (std::size_t i = 1; i < table.size(); ++i)
        if (!(table[i - 1].first < table[i].first)) return false;
    return true;
}

const QString& family() {
    static const QString f = [] {
        const int id = QFontDatabase::addApplicationFont(
            QStringLiteral("/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf"));
        const QStringList families = id >= 0 ? QFontDatabase::applicationFontFamilies(id) : QStringList();
        return families.isEmpty() ? QString() : families.front();
    }();
    return f;
}

}  // namespace

std::optional<std::string_view> ligature(std::string_view name) {
    static_assert(sorted(), "keep the symbol table sorted by name");
    auto it = std::lower_bound(table.begin(), table.end(), name,
                               [](const auto& entry, std::string_view n) { return entry.first < n; });
    if (it == table.end() || it->first != name) return std::nullopt;
    return it->second;
}

bool available() { return !family().isEmpty(); }

QFont font(int pixelSize) {
    QFont f(family());
    f.setPixelSize(std::max(1, pixelSize));
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

void draw(QPainter& painter, const QRectF& rect, std::string_view name, const QColor& color) {
    const auto lig = ligature(name);
    if (!lig || !available()) return;
    painter.save();
    painter.setFont(font(int(std::min(rect.width(), rect.height()))));
    painter.setPen(color);
    painter.drawText(rect, Qt::AlignCenter, QString::fromUtf8(lig->data(), int(lig->size())));
    painter.restore();
}

QPixmap pixmap(std::string_view name, int size, const QColor& color, qreal dpr) {
    QPixmap pm(QSize(size, size) * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::TextAntialiasing);
    draw(p, QRectF(0, 0, size, size), name, color);
    return pm;
}

QIcon icon(std::string_view name, int size, const QColor& color) {
    QIcon i;
    i.addPixmap(pixmap(name, size, color, 1));
    i.addPixmap(pixmap(name, size, color, 2));
    return i;
}

}  // namespace ombry::ui::symbols
