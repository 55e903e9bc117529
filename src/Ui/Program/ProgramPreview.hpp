#pragma once
// The live picture of the program at the stage's aspect, with the layer badges, the source and output
// read-out and a hairline border over it. Read-only.
#include <QWidget>

#include <functional>
#include <optional>

#include "Platform/MainQueue.hpp"
#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Program/ProgramPreviewRules.hpp"

namespace ombry::ui {

class ProgramTimecode;
class ProgramPreviewNative;

class ProgramPreview final : public QWidget {
public:
    // Makes the picture over the renderer; the application gives the GL stage view. Without one (no GL, as
    // in widget tests) a black panel stands in.
    using PictureFactory = std::function<QWidget*(NativeStageRenderer& renderer, QWidget* parent)>;
    static constexpr double reshapeDelay = 0.4;
    static constexpr int cornerRadius = 9;
    // Top-leading, 7 points in (the timecode's own margin is 4).
    static constexpr QPoint timecodeOrigin{3, 3};

    ProgramPreview(AppState& state, StateSignals& stateSignals, PictureFactory picture, QWidget* parent = nullptr);
    ~ProgramPreview() override;

    double previewAspect() const { return previewAspect_; }
    QWidget* picture() const { return picture_; }
    ProgramTimecode* timecode() const { return timecode_; }
    // What the overlays show now.
    const std::optional<preview::SourceLine>& source() const { return source_; }
    const std::string& outputText() const { return output_; }
    struct Badge {
        std::string tag;
        LayerId id;
        bool live;
    };
    const std::vector<Badge>& badges() const { return badges_; }
    bool rolling() const { return rolling_; }
    // The fitted rectangle of the picture inside the view.
    QRect pictureRect() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

    static QColor toneColor(preview::Tone tone);
    static QColor layerColor(LayerId id);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();
    void layoutPicture();
    void scheduleReshape();
    void applyAspect();

    AppState& state_;
    QWidget* picture_ = nullptr;
    // The application's picture, which paints the overlays itself; else a plain widget over the picture.
    ProgramPreviewNative* native_ = nullptr;
    QWidget* overlay_ = nullptr;
    ProgramTimecode* timecode_ = nullptr;
    RefreshGate* gate_ = nullptr;
    double previewAspect_ = 16.0 / 9.0;
    std::string shapeKey_;
    TaskHandle reshape_;
    std::optional<preview::SourceLine> source_;
    std::string output_;
    std::vector<Badge> badges_;
    bool rolling_ = false;
};

}  // namespace ombry::ui
