#pragma once
// The band above the sections that shows media still on its way in: the image-sequence encode and the
// cloud downloads, each as a dashed card with progress. A display only: no gestures, no drops.
#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "App/AppState.hpp"
#include "Ui/Shell/TileSize.hpp"

class QLabel;

namespace ombry::ui {

class FlowGridLayout;

// One cloud download as the band shows it (the cloud inbox's rows are read into these).
struct IncomingDownload {
    std::string id;
    std::string name;
    std::optional<MediaKind> kind;
    std::int64_t received = 0;
    std::int64_t total = 0;
};

namespace incoming_rules {
// "2 uploads downloading · 1 sequence encoding"; either piece alone.
QString subtitle(std::size_t downloads, bool encoding);
// "Waiting… · 12 MB" before the first byte, else "3.4 MB of 12 MB" (decimal units).
QString transferred(std::int64_t received, std::int64_t total);
// received / total limited to 1; 0 when total is below 1.
double fraction(std::int64_t received, std::int64_t total);
// The whole percentage, truncated (0.999 reads 99).
int percent(double fraction);
QString encodeDetail(std::int64_t frames, double fraction);
std::string downloadSymbol(const std::optional<MediaKind>& kind);
// "Downloading, 37 percent".
QString accessibleValue(const QString& badge, double fraction);
}  // namespace incoming_rules

// A placeholder card the size of a media card: symbol and progress bar on a dashed tile, a badge, the name
// and a detail line. Painted.
class IncomingCard final : public QWidget {
    Q_OBJECT
public:
    explicit IncomingCard(QWidget* parent = nullptr);
    void set(const QString& name, const QString& detail, const std::string& symbol, double fraction,
             const QString& badge, TileSize tile);
    QString name() const { return name_; }
    QString detail() const { return detail_; }
    QString badge() const { return badge_; }
    double fraction() const { return fraction_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString name_, detail_, badge_;
    std::string symbol_;
    double fraction_ = 0;
    TileSize tile_ = TileSize::medium;
};

class IncomingSection final : public QWidget {
    Q_OBJECT
public:
    explicit IncomingSection(QWidget* parent = nullptr);
    // Shows the encode first, then the downloads in their order; hidden when there is neither.
    void set(const std::vector<IncomingDownload>& downloads, const std::optional<SequenceEncode>& encode, TileSize tile);
    QString subtitle() const;
    std::vector<IncomingCard*> cards() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* header_;
    QLabel* subtitle_;
    QWidget* grid_;
    FlowGridLayout* gridLayout_;
    std::vector<IncomingCard*> cards_;
};

}  // namespace ombry::ui
