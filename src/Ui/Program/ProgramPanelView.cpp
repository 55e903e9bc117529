#include "Ui/Program/ProgramPanelView.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Ui/Program/AudioMeter.hpp"
#include "Ui/Program/LayerRow.hpp"
#include "Ui/Program/ProgramPanelRules.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/SectionLabel.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

ProgramPanelView::ProgramPanelView(ViewContext& context, QWidget* parent)
    : QScrollArea(parent), state_(context.state) {
    setObjectName(QStringLiteral("programColumn"));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setMinimumWidth(300);
    // The column takes no keyboard focus: show keys go where they land, as with nothing focused.
    setFocusPolicy(Qt::NoFocus);
    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("programPanel"));
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(14, 12, 14, 38);
    column->setSpacing(20);

    // Program Output: the preview beside the meter, which takes the row's height.
    auto* output = new QVBoxLayout();
    output->setSpacing(8);
    output->addWidget(new SectionLabel(QStringLiteral("Program Output"), content));
    auto* pictureRow = new QHBoxLayout();
    pictureRow->setSpacing(10);
    preview_ = new ProgramPreview(context.state, context.stateSignals, context.picture, content);
    meter_ = new AudioMeter(context.state, context.stateSignals, content);
    pictureRow->addWidget(preview_, 1, Qt::AlignTop);
    pictureRow->addWidget(meter_);
    output->addLayout(pictureRow);
    column->addLayout(output);

    // Program Layers.
    auto* layers = new QVBoxLayout();
    layers->setSpacing(8);
    auto* header = new QHBoxLayout();
    header->addWidget(new SectionLabel(QStringLiteral("Program Layers"), content));
    header->addStretch(1);
    count_ = new QLabel(content);
    count_->setObjectName(QStringLiteral("liveCount"));
    QFont caption = theme::monoCaption();
    caption.setPixelSize(11);
    count_->setFont(caption);
    QPalette dim = count_->palette();
    dim.setColor(QPalette::WindowText, theme::secondaryText());
    count_->setPalette(dim);
    header->addWidget(count_);
    clearAll_ = new QPushButton(QStringLiteral("Clear All"), content);
    clearAll_->setObjectName(QStringLiteral("clearAll"));
    clearAll_->setAccessibleName(QStringLiteral("Clear All"));
    clearAll_->setFocusPolicy(Qt::NoFocus);
    clearAll_->setFixedHeight(24);
    clearAll_->setStyleSheet(theme::glassButtonStyle(QColor(255, 255, 255), 12, 11));
    header->addWidget(clearAll_);
    layers->addLayout(header);
    auto* list = new QVBoxLayout();
    list->setSpacing(5);
    for (const LayerVM& vm : state_.layerVMs()) {
        auto* row = new LayerRow(context.state, context.stateSignals, vm.id, content);
        rows_.push_back(row);
        list->addWidget(row);
    }
    layers->addLayout(list);
    column->addLayout(layers);

    black_ = new QPushButton(content);
    black_->setObjectName(QStringLiteral("cutToBlack"));
    black_->setFocusPolicy(Qt::NoFocus);
    black_->setIcon(symbols::icon("circle.slash", 16, theme::live()));
    black_->setMinimumHeight(36);
    black_->setStyleSheet(theme::glassButtonStyle(theme::live(), 9, 14));
    column->addWidget(black_);
    column->addStretch(1);
    setWidget(content);

    connect(clearAll_, &QPushButton::clicked, this, [this] {
        // A pending advance would take the next clip right after everything was cleared.
        state_.cancelAdvance();
        state_.program.clearAll();
    });
    connect(black_, &QPushButton::clicked, this, [this] { state_.program.setBlack(!state_.program.state().black); });

    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(context.stateSignals, {Aspect::program, Aspect::media});
    refresh();
}

int ProgramPanelView::refreshes() const { return gate_->refreshes(); }

void ProgramPanelView::refresh() {
    const auto vms = state_.layerVMs();
    const std::size_t live = state_.program.liveLayers().size();
    count_->setText(QString::fromStdString(panel::liveCount(live, vms.size())));
    clearAll_->setEnabled(live > 0);
    const QString black = QString::fromStdString(panel::blackButtonText(state_.program.state().black));
    black_->setText(black);
    black_->setAccessibleName(black);
    for (std::size_t i = 0; i < rows_.size() && i < vms.size(); ++i) rows_[i]->showLayer(vms[i]);
}

}  // namespace ombry::ui
