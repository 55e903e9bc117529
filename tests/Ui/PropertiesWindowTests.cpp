// The clip properties window over a real state: it follows the selection, shows the facts, and its pickers
// and trim fields store the clip's overrides.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "UiTestSupport.hpp"
#include "Ui/Properties/PropertiesWindowView.hpp"

namespace ombry::ui_test {
namespace {

class PropertiesTest : public UiTest {
protected:
    ui::PropertiesWindowView& open(const std::string& id) {
        window();
        ui::openProperties(windows, *app, id);
        auto* w = dynamic_cast<ui::PropertiesWindowView*>(windows.window("properties"));
        EXPECT_TRUE(w);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
        turn();
        return *w;
    }
    static QString label(QWidget* w, const char* name) { return w->findChild<QLabel*>(name)->text(); }
    static bool shown(QWidget* w, const char* name) { return w->findChild<QWidget*>(name)->isVisible(); }
    static QStringList items(QComboBox* box) {
        QStringList out;
        for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
        return out;
    }
    // Picks an entry as the keyboard does: one step at a time from the one shown.
    static void choose(QComboBox* box, const QString& text) {
        const int want = box->findText(text);
        ASSERT_GE(want, 0) << text.toStdString();
        box->setFocus();
        while (box->currentIndex() < want) QTest::keyClick(box, Qt::Key_Down);
        while (box->currentIndex() > want) QTest::keyClick(box, Qt::Key_Up);
        turn();
    }
    static void type(QLineEdit* field, const QString& text) {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
        turn();
    }
};

TEST_F(PropertiesTest, OpensFromTheEntryPointAndFollowsTheSelection) {
    make();
    const MediaItem first = add(video());
    const MediaItem second = add(image());
    auto& w = open(first.id);
    EXPECT_EQ(w.windowTitle(), "Properties");
    EXPECT_EQ(app->selectedItemId(), first.id);
    EXPECT_EQ(label(&w, "clipName"), QString::fromStdString(first.name));
    EXPECT_EQ(w.width(), 340);
    app->setSelectedItemId(second.id);
    turn();
    EXPECT_EQ(label(&w, "clipName"), QString::fromStdString(second.name));
    EXPECT_FALSE(shown(&w, "trimSection")) << "a still has no trim";
    app->setSelectedItemId(std::nullopt);
    turn();
    EXPECT_TRUE(shown(&w, "emptyHint"));
    EXPECT_EQ(label(&w, "emptyHint"), "Right-click a clip and choose Properties.");
    EXPECT_FALSE(shown(&w, "clipProperties"));
    // Opening again raises the same window.
    ui::openProperties(windows, *app, first.id);
    EXPECT_EQ(windows.window("properties"), &w);
    turn();
    EXPECT_EQ(label(&w, "clipName"), QString::fromStdString(first.name));
}

TEST_F(PropertiesTest, ShowsTheFactsAndOnlyTheRowsThatFitTheClip) {
    make();
    const MediaItem tone = add(audio());
    app->library.setMeta(tone.id, [](MediaItem& m) {
        m.duration = 12.5;
        m.sampleRate = 48000;
        m.bitDepth = 16;
        m.channels = 1;
        m.fps.reset();
        m.width.reset();
        m.height.reset();
    });
    auto& w = open(tone.id);
    const std::vector<std::pair<QString, QString>> facts{
        {"Type", "Audio"}, {"Duration", "0:13"}, {"Sample rate", "48000 Hz"}, {"Bit depth", "16-bit"}, {"Channels", "Mono"}};
    EXPECT_EQ(w.factRows(), facts);
    EXPECT_EQ(items(w.transitionPicker()), QStringList({"Default", "Cut", "Fade"}));
    EXPECT_FALSE(shown(&w, "layerPickerRow"));
    EXPECT_FALSE(shown(&w, "scalingPickerRow"));
    EXPECT_TRUE(shown(&w, "trimSection"));
    EXPECT_EQ(w.trimIn()->text(), QLocale().toString(0.0, 'f', 1));
    EXPECT_EQ(w.trimOut()->text(), QLocale().toString(12.5, 'f', 1));
    EXPECT_FALSE(shown(&w, "offlineBlock"));

    const MediaItem gone = addMissing();
    app->library.setMeta(gone.id, [](MediaItem& m) { m.fps = 29.97; });
    app->setSelectedItemId(gone.id);
    turn();
    EXPECT_TRUE(shown(&w, "offlineBlock"));
    EXPECT_EQ(label(&w, "fileNotFound"), "File not found");
    EXPECT_EQ(w.findChild<QLabel*>("clipPath")->toolTip(), QString::fromStdString(gone.path));
    bool rate = false;
    for (const auto& [l, v] : w.factRows())
        if (l == "Frame rate") rate = v == "29 fps";
    EXPECT_TRUE(rate);
    // The relink panel cancelled: the clip stays offline, the window as it was.
    QTest::mouseClick(w.findChild<QPushButton*>("relink"), Qt::LeftButton);
    turn();
    EXPECT_TRUE(app->library.offlineIds().count(gone.id));
    EXPECT_TRUE(shown(&w, "offlineBlock"));
}

TEST_F(PropertiesTest, ALayerChoiceMovesTheClipsNextTakeAndLeavesTheLiveCue) {
    make();
    const MediaItem clip = add(video());
    auto& w = open(clip.id);
    ASSERT_TRUE(app->trigger(clip, false));
    advance(0.1);
    ASSERT_TRUE(onAir(LayerId::media));
    EXPECT_EQ(w.layerPicker()->currentText(), "Auto");
    choose(w.layerPicker(), "Overlay");
    EXPECT_EQ(app->library.item(clip.id)->layer, LayerId::overlay);
    EXPECT_TRUE(onAir(LayerId::media)) << "the cue on air keeps its layer";
    EXPECT_FALSE(onAir(LayerId::overlay));
    app->program.clearAll();
    ASSERT_TRUE(app->trigger(*app->library.item(clip.id), false));
    advance(0.1);
    EXPECT_TRUE(onAir(LayerId::overlay)) << "the next take goes to the chosen layer";
    EXPECT_FALSE(onAir(LayerId::media));
    EXPECT_EQ(w.layerPicker()->currentText(), "Overlay");
    choose(w.layerPicker(), "Auto");
    EXPECT_EQ(app->library.item(clip.id)->layer, std::nullopt);
}

TEST_F(PropertiesTest, TransitionEndActionAndScalingStoreWhatTheyShow) {
    make();
    const MediaItem clip = add(video());
    app->library.setMeta(clip.id, [](MediaItem& m) { m.loop = true; });
    auto& w = open(clip.id);
    EXPECT_EQ(w.endActionPicker()->currentText(), "Loop");
    choose(w.endActionPicker(), "Hold");
    EXPECT_EQ(app->library.item(clip.id)->endAction, EndAction::hold);
    EXPECT_EQ(app->library.item(clip.id)->loop, false);

    choose(w.transitionPicker(), "Fade");
    EXPECT_EQ(app->library.item(clip.id)->transitionType, TransitionType::crossfade);
    choose(w.transitionPicker(), "Default");
    EXPECT_EQ(app->library.item(clip.id)->transitionType, std::nullopt);

    ASSERT_TRUE(app->trigger(*app->library.item(clip.id), false));
    advance(0.1);
    choose(w.scalingPicker(), "Fill");
    EXPECT_EQ(app->library.item(clip.id)->fillMode, FillMode::fill);
    EXPECT_EQ(onAir()->fillMode, FillMode::fill) << "scaling changes the live cue at once";
    choose(w.transitionPicker(), "Zoom");
    EXPECT_NE(onAir()->transition.type, TransitionType::zoom) << "a transition choice leaves the live cue";
}

TEST_F(PropertiesTest, TrimFieldsStoreClampedValuesAndShowWhatWasStored) {
    make();
    const MediaItem clip = add(video());
    app->library.setMeta(clip.id, [](MediaItem& m) { m.duration = 12.5; });
    auto& w = open(clip.id);
    const QLocale locale;
    auto s = [&](double v) { return locale.toString(v, 'f', 1); };
    EXPECT_EQ(w.trimIn()->text(), s(0));
    EXPECT_EQ(w.trimOut()->text(), s(12.5));

    type(w.trimOut(), s(8));
    EXPECT_EQ(app->library.item(clip.id)->trimEnd, 8.0);
    type(w.trimIn(), s(2));
    EXPECT_EQ(app->library.item(clip.id)->trimStart, 2.0);
    EXPECT_EQ(app->library.item(clip.id)->trimEnd, 8.0) << "the other end is kept";
    // A trim-in past the trim-out clears the trim-out: the field shows the whole duration again.
    type(w.trimIn(), s(9));
    EXPECT_EQ(app->library.item(clip.id)->trimEnd, std::nullopt);
    EXPECT_EQ(w.trimOut()->text(), s(12.5));
    EXPECT_EQ(w.trimIn()->text(), s(9));
    // Something that is no number changes nothing and the stored value comes back.
    type(w.trimIn(), "soon");
    EXPECT_EQ(app->library.item(clip.id)->trimStart, 9.0);
    EXPECT_EQ(w.trimIn()->text(), s(9));
    // Negative in: no trim-in; an out at or past the end: no trim-out.
    type(w.trimIn(), s(-3));
    EXPECT_EQ(app->library.item(clip.id)->trimStart, std::nullopt);
    EXPECT_EQ(w.trimIn()->text(), s(0));
    type(w.trimOut(), s(20));
    EXPECT_EQ(app->library.item(clip.id)->trimEnd, std::nullopt);
    EXPECT_EQ(w.trimOut()->text(), s(12.5));
}

}  // namespace
}  // namespace ombry::ui_test
