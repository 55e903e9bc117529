#pragma once
// The program column: "Program Output" (the preview beside the meter and master fader), "Program Layers"
// (the live count, Clear All and one row per layer) and Cut to Black.
#include <QScrollArea>

#include <vector>

#include "Ui/Shell/Columns.hpp"

class QLabel;
class QPushButton;

namespace ombry::ui {

class AudioMeter;
class LayerRow;

class ProgramPanelView final : public QScrollArea {
public:
    explicit ProgramPanelView(ViewContext& context, QWidget* parent = nullptr);
    ProgramPreview* preview() const { return preview_; }
    AudioMeter* meter() const { return meter_; }
    const std::vector<LayerRow*>& rows() const { return rows_; }
    QLabel* liveCount() const { return count_; }
    QPushButton* clearAll() const { return clearAll_; }
    QPushButton* cutToBlack() const { return black_; }
    int refreshes() const;

private:
    void refresh();

    AppState& state_;
    ProgramPreview* preview_ = nullptr;
    AudioMeter* meter_ = nullptr;
    QLabel* count_ = nullptr;
    QPushButton* clearAll_ = nullptr;
    QPushButton* black_ = nullptr;
    std::vector<LayerRow*> rows_;
    RefreshGate* gate_ = nullptr;
};

}  // namespace ombry::ui
