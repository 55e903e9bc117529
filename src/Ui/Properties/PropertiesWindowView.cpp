#include "Ui/Properties/PropertiesWindowView.hpp"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

#include "Ui/Bridge/WindowRegistry.hpp"
#include "Ui/Properties/PropertiesRules.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/SectionLabel.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace {

using theme::sized;

using theme::colourText;

// The facts box: the surface fill in a rounded rectangle.
class FactsBox final : public QFrame {
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(theme::surface());
        p.drawRoundedRect(QRectF(rect()), 8, 8);
    }
};

template <class T>
void fill(QComboBox* box, const properties::Picker<T>& picker) {
    // Filled and selected without reporting a choice.
    const QSignalBlocker block(box);
    QStringList labels;
    for (const auto& [label, value] : picker.options) labels << QString::fromStdString(label);
    QStringList shown;
    for (int i = 0; i < box->count(); ++i) shown << box->itemText(i);
    if (shown != labels) {
        box->clear();
        box->addItems(labels);
    }
    box->setCurrentIndex(picker.selected);
}

}  // namespace

PropertiesWindowView::PropertiesWindowView(AppState& state, StateSignals& stateSignals, QWidget* parent)
    : QScrollArea(parent), state_(state) {
    setObjectName(QString::fromLatin1(windowId));
    setWindowTitle(QStringLiteral("Properties"));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFixedWidth(340);
    setMinimumHeight(320);
    setMaximumHeight(560);

    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("propertiesContent"));
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(20);

    empty_ = new QLabel(QString::fromLatin1(properties::emptyHint), content);
    empty_->setObjectName(QStringLiteral("emptyHint"));
    empty_->setFont(sized(font(), 12));
    colourText(empty_, theme::secondaryText());
    column->addWidget(empty_);

    clip_ = new QWidget(content);
    clip_->setObjectName(QStringLiteral("clipProperties"));
    auto* blocks = new QVBoxLayout(clip_);
    blocks->setContentsMargins(0, 0, 0, 0);
    blocks->setSpacing(20);
    column->addWidget(clip_);
    column->addStretch(1);

    // Header.
    auto* header = new QVBoxLayout();
    header->setSpacing(2);
    name_ = new QLabel(clip_);
    name_->setObjectName(QStringLiteral("clipName"));
    name_->setTextFormat(Qt::PlainText);
    name_->setFont(sized(font(), 13, QFont::DemiBold));
    name_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    name_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    detail_ = new QLabel(clip_);
    detail_->setObjectName(QStringLiteral("clipDetail"));
    detail_->setFont(sized(font(), 11));
    colourText(detail_, theme::secondaryText());
    header->addWidget(name_);
    header->addWidget(detail_);
    blocks->addLayout(header);

    // Offline: the warning with Relink…, then the missing path.
    offline_ = new QWidget(clip_);
    offline_->setObjectName(QStringLiteral("offlineBlock"));
    auto* offline = new QVBoxLayout(offline_);
    offline->setContentsMargins(0, 0, 0, 0);
    offline->setSpacing(20);
    auto* warning = new QHBoxLayout();
    warning->setSpacing(6);
    auto* icon = new QLabel(offline_);
    icon->setPixmap(symbols::pixmap("exclamationmark.triangle.fill", 12, theme::orange()));
    auto* missing = new QLabel(QStringLiteral("File not found"), offline_);
    missing->setObjectName(QStringLiteral("fileNotFound"));
    missing->setFont(sized(font(), 11));
    colourText(missing, theme::orange());
    relink_ = new QPushButton(QStringLiteral("Relink\u2026"), offline_);
    relink_->setObjectName(QStringLiteral("relink"));
    relink_->setAccessibleName(QStringLiteral("Relink\u2026"));
    relink_->setFont(sized(font(), 11));
    warning->addWidget(icon);
    warning->addWidget(missing);
    warning->addStretch(1);
    warning->addWidget(relink_);
    offline->addLayout(warning);
    path_ = new QLabel(offline_);
    path_->setObjectName(QStringLiteral("clipPath"));
    path_->setTextFormat(Qt::PlainText);
    path_->setFont(sized(font(), 10));
    path_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    path_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    colourText(path_, theme::tertiaryText());
    offline->addWidget(path_);
    blocks->addWidget(offline_);

    // Specs.
    auto* specs = new QVBoxLayout();
    specs->setSpacing(8);
    specs->addWidget(new SectionLabel(QStringLiteral("Specs"), clip_));
    factsBox_ = new FactsBox(clip_);
    factsBox_->setObjectName(QStringLiteral("factsBox"));
    factsLayout_ = new QVBoxLayout(factsBox_);
    factsLayout_->setContentsMargins(10, 10, 10, 10);
    factsLayout_->setSpacing(4);
    specs->addWidget(factsBox_);
    blocks->addLayout(specs);

    // Playback.
    auto* playback = new QVBoxLayout();
    playback->setSpacing(8);
    playback->addWidget(new SectionLabel(QStringLiteral("Playback"), clip_));
    auto combo = [this](const char* objectName, const QString& name) {
        auto* c = new QComboBox(clip_);
        c->setObjectName(QString::fromLatin1(objectName));
        c->setAccessibleName(name);
        c->setFont(sized(font(), 11));
        c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        return c;
    };
    transition_ = combo("transitionPicker", QStringLiteral("Transition"));
    layer_ = combo("layerPicker", QStringLiteral("Layer"));
    endAction_ = combo("endActionPicker", QStringLiteral("On end"));
    scaling_ = combo("scalingPicker", QStringLiteral("Scaling"));
    propertyRow(QStringLiteral("Transition"), transition_, playback);
    layerRow_ = propertyRow(QStringLiteral("Layer"), layer_, playback);
    propertyRow(QStringLiteral("On end"), endAction_, playback);
    scalingRow_ = propertyRow(QStringLiteral("Scaling"), scaling_, playback);
    blocks->addLayout(playback);

    // Trim.
    trim_ = new QWidget(clip_);
    trim_->setObjectName(QStringLiteral("trimSection"));
    auto* trim = new QVBoxLayout(trim_);
    trim->setContentsMargins(0, 0, 0, 0);
    trim->setSpacing(8);
    trim->addWidget(new SectionLabel(QStringLiteral("Trim"), trim_));
    auto field = [this](const char* objectName, const QString& name) {
        auto* f = new QLineEdit(trim_);
        f->setObjectName(QString::fromLatin1(objectName));
        f->setAccessibleName(name);
        f->setFixedWidth(64);
        f->setFont(sized(font(), 11));
        f->setAlignment(Qt::AlignRight);
        return f;
    };
    trimIn_ = field("trimIn", QStringLiteral("Trim in"));
    trimOut_ = field("trimOut", QStringLiteral("Trim out"));
    propertyRow(QStringLiteral("Trim in"), trimIn_, trim);
    propertyRow(QStringLiteral("Trim out"), trimOut_, trim);
    auto* note = new QLabel(QStringLiteral("Applies from the next take."), trim_);
    note->setObjectName(QStringLiteral("trimNote"));
    note->setWordWrap(true);
    note->setFont(sized(font(), 11));
    colourText(note, theme::secondaryText());
    trim->addWidget(note);
    blocks->addWidget(trim_);
    setWidget(content);

    // Every choice goes to the clip selected at that moment.
    connect(relink_, &QPushButton::clicked, this, [this] {
        if (const MediaItem* m = item()) state_.promptRelink(m->id);
    });
    connect(transition_, &QComboBox::activated, this, [this](int i) {
        const MediaItem* m = item();
        if (!m) return;
        const auto p = properties::transitionPicker(*m);
        if (i >= 0 && i < int(p.options.size())) state_.setItemTransition(m->id, p.options[std::size_t(i)].second);
    });
    connect(layer_, &QComboBox::activated, this, [this](int i) {
        const MediaItem* m = item();
        if (!m) return;
        const auto p = properties::layerPicker(*m);
        if (i >= 0 && i < int(p.options.size())) state_.setItemLayer({m->id}, p.options[std::size_t(i)].second);
    });
    connect(endAction_, &QComboBox::activated, this, [this](int i) {
        const MediaItem* m = item();
        if (!m) return;
        const auto p = properties::endActionPicker(*m);
        if (i >= 0 && i < int(p.options.size())) state_.setItemEndAction(m->id, p.options[std::size_t(i)].second);
    });
    connect(scaling_, &QComboBox::activated, this, [this](int i) {
        const MediaItem* m = item();
        if (!m) return;
        const auto p = properties::scalingPicker(*m);
        if (i >= 0 && i < int(p.options.size())) state_.setItemFillMode({m->id}, p.options[std::size_t(i)].second);
    });
    connect(trimIn_, &QLineEdit::editingFinished, this, [this] { commitTrim(true); });
    connect(trimOut_, &QLineEdit::editingFinished, this, [this] { commitTrim(false); });

    auto* gate = new RefreshGate(this, [this] { refresh(); });
    gate->watch(stateSignals, {Aspect::clipSelection, Aspect::media, Aspect::offlineIds});
    refresh();
}

QWidget* PropertiesWindowView::propertyRow(const QString& label, QWidget* control, QVBoxLayout* into) {
    auto* row = new QWidget(control->parentWidget());
    row->setObjectName(control->objectName() + QStringLiteral("Row"));
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    auto* text = new QLabel(label, row);
    text->setFont(sized(font(), 12));
    colourText(text, theme::secondaryText());
    text->setBuddy(control);
    h->addWidget(text);
    h->addStretch(1);
    control->setParent(row);
    control->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    h->addWidget(control);
    into->addWidget(row);
    return row;
}

QSize PropertiesWindowView::sizeHint() const {
    const int content = widget() ? widget()->sizeHint().height() : 0;
    return {340, std::clamp(content, 320, 560)};
}

const MediaItem* PropertiesWindowView::item() const { return state_.selectedItem(); }

void PropertiesWindowView::commitTrim(bool in) {
    const MediaItem* m = item();
    if (!m) return;
    QLineEdit* field = in ? trimIn_ : trimOut_;
    const auto value = properties::parseSeconds(field->text(), QLocale());
    const MediaItem before = *m;
    if (value) {
        if (in)
            state_.setItemTrim(before.id, *value, before.trimEnd);
        else
            state_.setItemTrim(before.id, before.trimStart, *value);
    }
    // The fields show what was stored (also after an entry that did not parse, or one that stored nothing new).
    field->setModified(false);
    refresh();
}

std::vector<std::pair<QString, QString>> PropertiesWindowView::factRows() const {
    std::vector<std::pair<QString, QString>> rows;
    for (const auto& [label, value] : factLabels_)
        if (!label->isHidden()) rows.emplace_back(label->text(), value->text());
    return rows;
}

void PropertiesWindowView::refresh() {
    const MediaItem* m = item();
    empty_->setVisible(!m);
    clip_->setVisible(m != nullptr);
    if (!m) return;

    name_->setText(QString::fromStdString(m->name));
    detail_->setText(QString::fromStdString(displayDetail(*m)));
    const bool offline = state_.library.offlineIds().count(m->id) > 0;
    offline_->setVisible(offline);
    if (offline) {
        const QString path = QString::fromStdString(m->path);
        path_->setToolTip(path);
        path_->setText(path_->fontMetrics().elidedText(path, Qt::ElideMiddle, 340 - 32));
    }

    const auto facts = properties::facts(*m);
    while (factLabels_.size() < facts.size()) {
        auto* row = new QHBoxLayout();
        auto* label = new QLabel(factsBox_);
        auto* value = new QLabel(factsBox_);
        label->setFont(sized(font(), 11));
        colourText(label, theme::secondaryText());
        QFont mono = sized(QFont(QStringLiteral("DejaVu Sans Mono")), 11);
        value->setFont(mono);
        value->setObjectName(QStringLiteral("factValue"));
        row->addWidget(label);
        row->addStretch(1);
        row->addWidget(value);
        factsLayout_->addLayout(row);
        factLabels_.emplace_back(label, value);
    }
    for (std::size_t i = 0; i < factLabels_.size(); ++i) {
        auto [label, value] = factLabels_[i];
        const bool shown = i < facts.size();
        label->setVisible(shown);
        value->setVisible(shown);
        if (!shown) continue;
        label->setText(QString::fromStdString(facts[i].label));
        value->setText(QString::fromStdString(facts[i].value));
    }

    fill(transition_, properties::transitionPicker(*m));
    const bool visual = properties::showsLayerAndScaling(*m);
    layerRow_->setVisible(visual);
    scalingRow_->setVisible(visual);
    if (visual) {
        fill(layer_, properties::layerPicker(*m));
        fill(scaling_, properties::scalingPicker(*m));
    }
    fill(endAction_, properties::endActionPicker(*m));

    const bool trims = properties::showsTrim(*m);
    trim_->setVisible(trims);
    if (trims) {
        const QLocale locale;
        // A field being typed in keeps the operator's text until it commits.
        auto show = [&](QLineEdit* f, double v) {
            if (!(f->hasFocus() && f->isModified())) f->setText(properties::formatSeconds(v, locale));
        };
        show(trimIn_, properties::trimInShown(*m));
        show(trimOut_, properties::trimOutShown(*m));
    }
}

void definePropertiesWindow(WindowRegistry& windows, AppState& state, StateSignals& stateSignals) {
    windows.define(QString::fromLatin1(PropertiesWindowView::windowId), [&state, &stateSignals]() -> QWidget* {
        auto* view = new PropertiesWindowView(state, stateSignals);
        view->setAttribute(Qt::WA_DeleteOnClose, false);
        return view;
    });
}

void openProperties(WindowRegistry& windows, AppState& state, const std::string& clipId) {
    state.setSelectedItemId(clipId);
    windows.open(QString::fromLatin1(PropertiesWindowView::windowId));
}

}  // namespace ombry::ui
