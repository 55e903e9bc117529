#include "Ui/Program/PillRules.hpp"

#include "Ui/Shell/Theme.hpp"

namespace ombry::ui::pills {

OutputPillLook outputPill(OutputStatus status) {
    switch (status) {
        case OutputStatus::live: return {QStringLiteral("LIVE"), theme::live(), Qt::white, QStringLiteral("Cut to black")};
        case OutputStatus::black:
            return {QStringLiteral("BLACK"), theme::black(), Qt::white, QStringLiteral("Restore output")};
        case OutputStatus::offline: break;
    }
    return {QStringLiteral("OFFLINE"), QColor::fromRgbF(0.22f, 0.22f, 0.22f), theme::live(), QStringLiteral("Cut to black")};
}

QString pillText(const QString& label, int count) {
    if (count < 2) return label;
    return label + QStringLiteral(" \u00D7") + QString::number(count);
}

QString remoteTooltip(int total, int wifi, int ble) {
    QString base = total <= 1 ? QStringLiteral("A remote is connected") : QString::number(total) + QStringLiteral(" remotes connected");
    if (wifi >= 1 && ble >= 1) return base + QStringLiteral(" over Wi-Fi and Bluetooth");
    if (wifi >= 1) return base + QStringLiteral(" over Wi-Fi");
    if (ble >= 1) return base + QStringLiteral(" over Bluetooth");
    return base;
}

QString companionTooltip(int count) {
    if (count < 2) return QStringLiteral("Companion is connected");
    return QString::number(count) + QStringLiteral(" Companion connections");
}

QString remoteCountText(int count) {
    return count == 1 ? QStringLiteral("1 remote") : QString::number(count) + QStringLiteral(" remotes");
}

QString companionCountText(int count) {
    return count == 1 ? QStringLiteral("1 connection") : QString::number(count) + QStringLiteral(" connections");
}

QString companionCaption(std::optional<std::int64_t> port) {
    QString caption = QStringLiteral("Buttons and Stream Decks are controlling this machine via the control API");
    if (port) caption += QStringLiteral(" on port ") + QString::number(*port);
    return caption + QLatin1Char('.');
}

QPainterPath bluetoothRune(const QRectF& r) {
    auto at = [&r](double fx, double fy) { return QPointF(r.left() + r.width() * fx, r.top() + r.height() * fy); };
    QPainterPath path(at(0, 0.25));
    for (auto [fx, fy] : {std::pair{1.0, 0.75}, {0.5, 1.0}, {0.5, 0.0}, {1.0, 0.25}, {0.0, 0.75}}) path.lineTo(at(fx, fy));
    return path;
}

}  // namespace ombry::ui::pills
