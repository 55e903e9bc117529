#include "Ui/Settings/OutputSettings.hpp"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>

#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Settings/SettingsForm.hpp"
#include "Ui/Settings/SettingsRules.hpp"
#include "Ui/Settings/StageSizeFields.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace {

using theme::colourText;

QComboBox* picker(const char* objectName, const QString& accessible) {
    auto* box = new QComboBox;
    box->setObjectName(QString::fromLatin1(objectName));
    box->setAccessibleName(accessible);
    box->setFocusPolicy(Qt::TabFocus);
    box->setMinimumWidth(150);
    return box;
}

// The listed values, a divider, then "Custom"; rebuilt only when the values changed.
void fillStagePicker(QComboBox* box, const std::vector<std::string>& options, bool custom, const std::string& current) {
    const QSignalBlocker block(box);
    QStringList want;
    for (const auto& o : options) want << QString::fromStdString(o);
    QStringList have;
    for (int i = 0; i < box->count(); ++i)
        if (!box->itemData(i).isNull()) have << box->itemData(i).toString();
    want << QString::fromLatin1(OutputSettings::customTag);
    if (have != want) {
        box->clear();
        for (const auto& o : options) box->addItem(QString::fromStdString(o), QString::fromStdString(o));
        box->insertSeparator(box->count());
        box->addItem(QStringLiteral("Custom"), QString::fromLatin1(OutputSettings::customTag));
    }
    const QString selected = custom ? QString::fromLatin1(OutputSettings::customTag) : QString::fromStdString(current);
    box->setCurrentIndex(box->findData(selected));
}

QLabel* warningLabel(const QString& text, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(6);
    auto* icon = new QLabel(row);
    icon->setPixmap(symbols::pixmap("exclamationmark.circle.fill", 14, theme::yellow()));
    icon->setAlignment(Qt::AlignTop);
    h->addWidget(icon, 0, Qt::AlignTop);
    auto* label = new QLabel(text, row);
    label->setWordWrap(true);
    QFont f = label->font();
    f.setPixelSize(11);
    label->setFont(f);
    h->addWidget(label, 1);
    return label;
}

}  // namespace

OutputSettings::OutputSettings(SettingsContext& context, QWidget* parent) : QWidget(parent), context_(context) {
    setObjectName(paneObjectName(SettingsSection::output));
    AppState& state = context_.state;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* form = new SettingsForm(this);
    layout->addWidget(form);

    // Stage.
    SettingsGroup* stage = form->addSection(QStringLiteral("Stage"), "stageSection");
    resolution_ = picker("resolutionPicker", QStringLiteral("Resolution"));
    connect(resolution_, &QComboBox::activated, this,
            [this](int index) { chooseResolution(resolution_->itemData(index).toString()); });
    stage->addRow(QStringLiteral("Resolution"), resolution_);
    sizeFields_ = new StageSizeFields(state, context_.stateSignals);
    sizeRow_ = stage->addWidget(sizeFields_);
    frameRate_ = picker("frameRatePicker", QStringLiteral("Frame rate"));
    connect(frameRate_, &QComboBox::activated, this,
            [this](int index) { chooseFrameRate(frameRate_->itemData(index).toString()); });
    stage->addRow(QStringLiteral("Frame rate"), frameRate_);
    fps_ = stageFpsField(state, context_.stateSignals);
    fpsRow_ = stage->addRow(QStringLiteral("Frames per second"), fps_);

    // The browser output page.
    SettingsGroup* browser = form->addSection(QStringLiteral("OBS Browser Source"), "browserSection");
    auto* urlBox = new QWidget;
    auto* urlRow = new QHBoxLayout(urlBox);
    urlRow->setContentsMargins(0, 0, 0, 0);
    urlRow->setSpacing(6);
    outputUrl_ = new QLabel(urlBox);
    outputUrl_->setObjectName(QStringLiteral("outputUrl"));
    outputUrl_->setTextFormat(Qt::PlainText);
    outputUrl_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont mono = theme::monoCaption();
    mono.setPixelSize(12);
    outputUrl_->setFont(mono);
    urlRow->addWidget(outputUrl_);
    copyUrl_ = new QPushButton(QStringLiteral("Copy"), urlBox);
    copyUrl_->setObjectName(QStringLiteral("copyOutputUrl"));
    copyUrl_->setAccessibleName(QStringLiteral("Copy output URL"));
    copyUrl_->setFocusPolicy(Qt::TabFocus);
    connect(copyUrl_, &QPushButton::clicked, this, [this] { context_.state.copyOutputURL(); });
    urlRow->addWidget(copyUrl_);
    browser->addRow(QStringLiteral("Output URL"), urlBox);
    browser->addNote(QStringLiteral("In OBS: Sources \u2192 + \u2192 Browser, and paste this URL. Match the browser "
                                    "source Width/Height/FPS to the stage settings."));
    auto* codec = warningLabel(
        QStringLiteral("Browser sources only decode H.264, HEVC, VP9 and AV1 \u2014 a ProRes or DNxHD clip plays on "
                       "every other output but shows nothing here. Use Syphon or NDI for those clips, or re-export as "
                       "H.264."),
        nullptr);
    codec->setObjectName(QStringLiteral("codecWarning"));
    browser->addWidget(codec->parentWidget());

    // Frame sharing.
    SettingsGroup* syphon = form->addSection(QStringLiteral("Syphon Output"), "syphonSection");
    auto* syphonSwitch = settingsToggle(state, context_.stateSignals, &AppSettings::syphonOutputEnabled);
    syphonSwitch->setObjectName(QStringLiteral("syphonOutput"));
    syphon->addRow(QStringLiteral("Publish program video over Syphon"), syphonSwitch);
    syphon->addNote(QStringLiteral(
        "Shares the program frame GPU-to-GPU as \u201COmbry \u2013 Program\u201D. In OBS: Sources \u2192 + \u2192 "
        "Syphon Client (needs OBS 31.x or \u2265 32.0.2). This only sends video. To send audio, keep a muted Browser "
        "source or use the monitor. If the receiving app runs on this computer, this is the cheapest output there "
        "is: nothing is copied off the GPU and nothing is compressed."));

    // NDI.
    SettingsGroup* ndi = form->addSection(QStringLiteral("NDI Output"), "ndiSection");
    auto* ndiSwitch = settingsToggle(state, context_.stateSignals, &AppSettings::ndiOutputEnabled);
    ndiSwitch->setObjectName(QStringLiteral("ndiOutput"));
    ndi->addRow(QStringLiteral("Publish program over NDI"), ndiSwitch);
    ndi->addNote(QStringLiteral(
        "Streams the program as \u201COmbry - Program\u201D to any NDI receiver on the local network (OBS with the "
        "NDI plugin, vMix, a TriCaster, NDI Studio Monitor\u2026). Carries program video and audio. NDI compresses "
        "every frame on the processor, so it costs real CPU even when the receiver is running on this same "
        "computer. Use Syphon for a receiver on this computer, and keep NDI for the network."));
    delayRow_ = new QWidget;
    delayRow_->setObjectName(QStringLiteral("avSyncRow"));
    auto* delayLayout = new QHBoxLayout(delayRow_);
    delayLayout->setContentsMargins(0, 0, 0, 0);
    delayLayout->addWidget(new QLabel(QStringLiteral("A/V sync"), delayRow_));
    delay_ = new QSlider(Qt::Horizontal, delayRow_);
    delay_->setObjectName(QStringLiteral("avSync"));
    delay_->setAccessibleName(QStringLiteral("A/V sync"));
    delay_->setRange(0, 500);
    delay_->setSingleStep(5);
    delay_->setPageStep(5);
    delay_->setFocusPolicy(Qt::TabFocus);
    delayLayout->addWidget(delay_, 1);
    delayText_ = new QLabel(delayRow_);
    delayText_->setObjectName(QStringLiteral("avSyncValue"));
    delayText_->setFixedWidth(56);
    delayText_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont digits = delayText_->font();
    digits.setFamily(QStringLiteral("DejaVu Sans Mono"));
    delayText_->setFont(digits);
    colourText(delayText_, theme::secondaryText());
    delayLayout->addWidget(delayText_);
    // Snapped to steps of 5; stored when the drag ends (a drag is not a save per pixel), at once otherwise.
    auto store = [this] {
        const std::int64_t ms = settings::snappedDelay(delay_->value());
        if (ms != context_.state.settings().ndiAudioDelayMs) writeSetting(context_.state, &AppSettings::ndiAudioDelayMs, ms);
        refresh();
    };
    connect(delay_, &QSlider::valueChanged, this, [this, store](int v) {
        const std::int64_t ms = settings::snappedDelay(v);
        if (ms != v) {
            const QSignalBlocker block(delay_);
            delay_->setValue(int(ms));
        }
        delayText_->setText(QStringLiteral("%1 ms").arg(ms));
        if (!delay_->isSliderDown()) store();
    });
    connect(delay_, &QSlider::sliderReleased, this, store);
    ndi->addWidget(delayRow_);
    ndi->addNote(QStringLiteral(
        "Delays the NDI audio to line it up with the video. This is only a problem for some NDI receivers, mainly "
        "OBS. Audio is usually captured slightly ahead of the picture, so raise this until a sharp sound and its "
        "on-screen moment match on the receiver."));

    // The operator's own screens.
    SettingsGroup* displays = form->addSection(QStringLiteral("Output Displays"), "displaysSection");
    allowPrimary_ = settingsToggle(state, context_.stateSignals, &AppSettings::allowOutputOnPrimaryDisplay);
    allowPrimary_->setObjectName(QStringLiteral("allowPrimary"));
    displays->addRow(QStringLiteral("Allow output on the primary display"), allowPrimary_);
    allowController_ = settingsToggle(state, context_.stateSignals, &AppSettings::allowOutputOnControllerDisplay);
    allowController_->setObjectName(QStringLiteral("allowController"));
    displays->addRow(QStringLiteral("Allow output on the controller's display"), allowController_);
    displays->addNote(QStringLiteral("These guard against accidentally covering the screen you operate from. Detected "
                                     "displays can be toggled from the sidebar's Outputs section."));
    noDisplays_ = new QLabel(QStringLiteral("No displays detected."));
    noDisplays_->setObjectName(QStringLiteral("noDisplays"));
    colourText(noDisplays_, theme::secondaryText());
    displays->addWidget(noDisplays_);
    displayRows_ = new QWidget;
    displayRows_->setObjectName(QStringLiteral("displayRows"));
    displayLayout_ = new QVBoxLayout(displayRows_);
    displayLayout_->setContentsMargins(0, 0, 0, 0);
    displayLayout_->setSpacing(8);
    displays->addWidget(displayRows_);

    // The monitor.
    SettingsGroup* audio = form->addSection(QStringLiteral("Audio Monitor"), "monitorSection");
    monitor_ = settingsToggle(state, context_.stateSignals, &AppSettings::audioMonitorEnabled);
    monitor_->setObjectName(QStringLiteral("monitorAudio"));
    audio->addRow(QStringLiteral("Monitor program audio"), monitor_);
    device_ = picker("monitorDevice", QStringLiteral("Output device"));
    device_->setMinimumWidth(200);
    connect(device_, &QComboBox::activated, this, [this](int index) {
        const QString uid = device_->itemData(index).toString();
        std::optional<std::string> next;
        if (!uid.isEmpty()) next = uid.toStdString();
        if (next != context_.state.settings().monitorDeviceUID)
            writeSetting(context_.state, &AppSettings::monitorDeviceUID, next);
    });
    audio->addRow(QStringLiteral("Output device"), device_);
    audio->addNote(QStringLiteral(
        "This audio will be directly in sync with the video in Ombry. Route this to an audio output to listen/send "
        "to a speaker, or to a spare or virtual device (like a null sink) to feed OBS's audio capture while keeping "
        "your speakers quiet. This doesn't affect OBS browser sources or display outputs."));

    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(context_.stateSignals, {Aspect::program, Aspect::settings, Aspect::serverInfo, Aspect::displays});
    refresh();
}

void OutputSettings::paneAppeared() {
    monitorDevices_ = context_.audioDevices ? context_.audioDevices() : AudioDevices::outputDevices();
    const AppState& s = context_.state;
    const auto resolutions = s.resolutionOptions();
    isCustomResolution_ = std::find(resolutions.begin(), resolutions.end(), s.resolution()) == resolutions.end();
    const auto rates = s.frameRateOptions();
    isCustomFrameRate_ = std::find(rates.begin(), rates.end(), s.frameRate()) == rates.end();
    refresh();
}

void OutputSettings::paneDisappeared() {
    AppState& s = context_.state;
    if (isCustomResolution_) s.rememberCustomResolution(s.resolution());
    if (isCustomFrameRate_) s.rememberCustomFrameRate(s.frameRate());
}

void OutputSettings::chooseResolution(const QString& value) {
    AppState& s = context_.state;
    if (value == QLatin1String(customTag)) {
        isCustomResolution_ = true;
    } else {
        // The size the custom fields produced is remembered before the listed one replaces it.
        if (isCustomResolution_) s.rememberCustomResolution(s.resolution());
        isCustomResolution_ = false;
        s.setResolution(value.toStdString());
    }
    refresh();
}

void OutputSettings::chooseFrameRate(const QString& value) {
    AppState& s = context_.state;
    if (value == QLatin1String(customTag)) {
        isCustomFrameRate_ = true;
    } else {
        if (isCustomFrameRate_) s.rememberCustomFrameRate(s.frameRate());
        isCustomFrameRate_ = false;
        s.setFrameRate(value.toStdString());
    }
    refresh();
}

void OutputSettings::refresh() {
    const AppState& s = context_.state;
    const AppSettings& set = s.settings();
    fillStagePicker(resolution_, s.resolutionOptions(), isCustomResolution_, s.resolution());
    sizeRow_->setVisible(isCustomResolution_);
    fillStagePicker(frameRate_, s.frameRateOptions(), isCustomFrameRate_, s.frameRate());
    fpsRow_->setVisible(isCustomFrameRate_);

    outputUrl_->setText(s.serverInfo ? QString::fromStdString(s.serverInfo->outputUrl) : QStringLiteral("starting\u2026"));

    delayRow_->setEnabled(set.ndiOutputEnabled);
    if (!delay_->isSliderDown()) {
        const QSignalBlocker block(delay_);
        delay_->setValue(int(std::clamp<std::int64_t>(set.ndiAudioDelayMs, 0, 500)));
    }
    delayText_->setText(QStringLiteral("%1 ms").arg(set.ndiAudioDelayMs));

    refreshDisplays();
    refreshDevices();
}

void OutputSettings::refreshDisplays() {
    const AppState& s = context_.state;
    const auto& list = s.displayList();
    // Rows are rebuilt only when what they show changed.
    std::string shown;
    for (const auto& d : list)
        shown += std::to_string(d.id) + '|' + d.name + '|' + settings::displayDetail(d).toStdString() + '|' +
                 (s.outputBlockReason(d) ? "r" : "") + '\n';
    noDisplays_->setVisible(list.empty());
    if (shown == displaysShown_) return;
    displaysShown_ = shown;
    while (QLayoutItem* item = displayLayout_->takeAt(0)) {
        if (QWidget* w = item->widget()) w->deleteLater();
        delete item;
    }
    for (const auto& d : list) {
        auto* row = new QWidget(displayRows_);
        row->setObjectName(QStringLiteral("displayRow"));
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        auto* texts = new QVBoxLayout();
        texts->setSpacing(1);
        auto* name = new QLabel(QString::fromStdString(d.name), row);
        name->setObjectName(QStringLiteral("displayName"));
        name->setTextFormat(Qt::PlainText);
        texts->addWidget(name);
        auto* detail = noteLabel(settings::displayDetail(d), row);
        detail->setObjectName(QStringLiteral("displayDetail"));
        texts->addWidget(detail);
        h->addLayout(texts);
        h->addStretch(1);
        if (s.outputBlockReason(d)) {
            auto* mark = new QLabel(QStringLiteral("restricted"), row);
            mark->setObjectName(QStringLiteral("restricted"));
            QFont f = mark->font();
            f.setPixelSize(11);
            mark->setFont(f);
            colourText(mark, theme::orange());
            h->addWidget(mark);
        }
        displayLayout_->addWidget(row);
    }
}

void OutputSettings::refreshDevices() {
    const auto& stored = context_.state.settings().monitorDeviceUID;
    std::vector<std::pair<QString, QString>> entries{{QStringLiteral("System Default"), QString()}};
    bool present = false;
    for (const auto& d : monitorDevices_) {
        entries.emplace_back(QString::fromStdString(d.name), QString::fromStdString(d.uid));
        present = present || (stored && d.uid == *stored);
    }
    // A stored device that is not present stays the choice shown.
    if (stored && !present) entries.emplace_back(QStringLiteral("Unavailable device"), QString::fromStdString(*stored));
    const QSignalBlocker block(device_);
    bool same = device_->count() == int(entries.size());
    for (int i = 0; same && i < device_->count(); ++i)
        same = device_->itemText(i) == entries[std::size_t(i)].first &&
               device_->itemData(i).toString() == entries[std::size_t(i)].second;
    if (!same) {
        device_->clear();
        for (const auto& [name, uid] : entries) device_->addItem(name, uid);
    }
    device_->setCurrentIndex(stored ? device_->findData(QString::fromStdString(*stored)) : 0);
}

}  // namespace ombry::ui
