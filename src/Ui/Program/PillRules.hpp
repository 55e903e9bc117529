#pragma once
// The toolbar pills' texts, colours and the Bluetooth mark, without a widget.
#include <QColor>
#include <QPainterPath>
#include <QString>

#include <cstdint>
#include <optional>

#include "App/ViewModels.hpp"

namespace ombry::ui::pills {

struct OutputPillLook {
    QString label;  // "LIVE", "BLACK", "OFFLINE"
    QColor tint;
    QColor dot;
    QString tooltip;
};
OutputPillLook outputPill(OutputStatus status);

// The label alone below 2, else "REMOTE × 3".
QString pillText(const QString& label, int count);
// "A remote is connected over Wi-Fi", "3 remotes connected over Wi-Fi and Bluetooth".
QString remoteTooltip(int total, int wifi, int ble);
// "Companion is connected", "2 Companion connections".
QString companionTooltip(int count);
// "1 remote", "2 remotes".
QString remoteCountText(int count);
// "1 connection", "2 connections".
QString companionCountText(int count);
// The companion tip's caption, with " on port 7341" while the control server runs.
QString companionCaption(std::optional<std::int64_t> port);

// The Bluetooth mark in a rectangle: an open path, only ever stroked.
QPainterPath bluetoothRune(const QRectF& rect);

}  // namespace ombry::ui::pills
