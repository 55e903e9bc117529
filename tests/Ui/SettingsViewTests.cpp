// The settings window over a real state: the section list in step with the state, panes made afresh and told
// when they show and go, and the stage size fields that apply on Return or focus loss.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalSpy>

#include "UiTestSupport.hpp"
#include "Ui/Settings/QRShareRow.hpp"
#include "Ui/Settings/SettingsView.hpp"
#include "Ui/Settings/StageSizeFields.hpp"

namespace ombry::ui_test {
namespace {

class SettingsTest : public UiTest {
protected:
    // The window goes with the state it shows.
    void TearDown() override {
        delete windows.window("settings");
        UiTest::TearDown();
    }
    ui::SettingsContext settingsContext() { return {*app, *stateSignals, *preferences, &reveal, nullptr, {}}; }
    ui::SettingsView& open(std::optional<SettingsSection> section = std::nullopt) {
        window();
        ui::openSettings(windows, *app, section);
        auto* w = dynamic_cast<ui::SettingsView*>(windows.window("settings"));
        EXPECT_TRUE(w);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
        turn();
        return *w;
    }
    static QStringList rows(QListWidget* list) {
        QStringList out;
        for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
        return out;
    }
    static void clickRow(QListWidget* list, int row) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
        turn();
    }
    static void type(QLineEdit* field, const QString& text, bool pressReturn = true) {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
        if (pressReturn) QTest::keyClick(field, Qt::Key_Return);
        turn();
    }
};

TEST_F(SettingsTest, OpensOnTheSectionChosenElsewhereAndTheListWritesItBack) {
    make();
    app->setSettingsSection(SettingsSection::remote);
    auto& w = open();
    EXPECT_EQ(w.windowTitle(), "Ombry Settings");
    EXPECT_EQ(w.width(), 680);
    EXPECT_GE(w.height(), 480);
    EXPECT_EQ(rows(w.sectionList()), (QStringList{"General", "Output", "Media", "Remote Control", "Uploads"}));
    EXPECT_EQ(w.sectionList()->currentRow(), 3);
    EXPECT_EQ(w.sectionList()->selectedItems().size(), 1);
    EXPECT_EQ(w.pane()->objectName(), "remotePane");
    EXPECT_EQ(w.paneTitle()->text(), "Remote Control");

    clickRow(w.sectionList(), 1);
    EXPECT_EQ(app->settingsSection(), SettingsSection::output);
    EXPECT_EQ(w.pane()->objectName(), "outputPane");
    EXPECT_EQ(w.paneTitle()->text(), "Output");

    // Chosen elsewhere while the window is open (the status bar, a menu).
    ui::openSettings(windows, *app, SettingsSection::uploads);
    turn();
    EXPECT_EQ(w.sectionList()->currentRow(), 4);
    EXPECT_EQ(w.pane()->objectName(), "uploadsPane");
    EXPECT_EQ(windows.window("settings"), &w) << "one settings window";

    // The list never ends up with nothing selected.
    w.sectionList()->clearSelection();
    turn();
    ASSERT_EQ(w.sectionList()->selectedItems().size(), 1);
    EXPECT_EQ(w.sectionList()->selectedItems().front()->text(), "Uploads");
    EXPECT_EQ(app->settingsSection(), SettingsSection::uploads);
}

// Records its life: made, shown, gone.
struct Log {
    std::vector<std::string> events;
    int made = 0;
};
class RecordingPane final : public QWidget, public ui::SettingsPaneHooks {
public:
    RecordingPane(Log& log, std::string name, QWidget* parent) : QWidget(parent), log_(log), name_(std::move(name)) {
        ++log_.made;
        setObjectName(QString::fromStdString(name_));
    }
    void paneAppeared() override { log_.events.push_back(name_ + " appeared"); }
    void paneDisappeared() override { log_.events.push_back(name_ + " gone"); }

private:
    Log& log_;
    std::string name_;
};

TEST_F(SettingsTest, PanesAreMadeAfreshAndToldByTheWindowWhenTheyShowAndGo) {
    make();
    window();
    Log log;
    ui::SettingsPaneFactories panes;
    for (SettingsSection s : allSettingsSections)
        panes[s] = [&log, s](ui::SettingsContext&, QWidget* parent) {
            return new RecordingPane(log, std::string(rawValue(s)), parent);
        };
    ui::defineSettingsWindow(windows, settingsContext(), panes);
    auto& w = open(SettingsSection::general);
    EXPECT_EQ(log.events, (std::vector<std::string>{"general appeared"}));
    clickRow(w.sectionList(), 1);
    EXPECT_EQ(log.events, (std::vector<std::string>{"general appeared", "general gone", "output appeared"}));
    w.close();
    turn();
    EXPECT_EQ(log.events.back(), "output gone");
    EXPECT_EQ(w.pane(), nullptr);

    // While closed, choosing a section makes no pane.
    const int made = log.made;
    app->setSettingsSection(SettingsSection::remote);
    turn();
    EXPECT_EQ(log.made, made);

    open();
    EXPECT_EQ(log.made, made + 1);
    EXPECT_EQ(log.events.back(), "remote appeared");
    EXPECT_EQ(w.pane()->objectName(), "remote");
    delete &w;
    EXPECT_EQ(log.events.back(), "remote gone");
}

TEST_F(SettingsTest, StageSizeFieldsApplyOnReturnWithinTheStageLimits) {
    make();
    ui::StageSizeFields fields(*app, *stateSignals);
    fields.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fields));
    EXPECT_EQ(fields.widthField()->text(), "1920");
    EXPECT_EQ(fields.heightField()->text(), "1080");
    struct Case {
        const char* typed;
        std::int64_t width;  // the stage width afterwards
        const char* shown;
    };
    for (const Case& c : {Case{"2048", 2048, "2048"}, Case{"10", 16, "16"}, Case{"10000", 8192, "8192"},
                          Case{"0", 8192, "8192"}, Case{"-5", 8192, "8192"}, Case{"abc", 8192, "8192"},
                          Case{"1,920", 8192, "8192"}, Case{" 3000 ", 3000, "3000"}}) {
        SCOPED_TRACE(c.typed);
        type(fields.widthField(), QString::fromUtf8(c.typed));
        EXPECT_EQ(app->stageWidth(), c.width);
        EXPECT_EQ(fields.widthField()->text(), c.shown);
    }
    EXPECT_EQ(app->stageHeight(), 1080);
    type(fields.heightField(), "1200");
    EXPECT_EQ(app->resolution(), "3000x1200");
}

TEST_F(SettingsTest, StageFieldsApplyNothingWhileTypingAndApplyOnFocusLoss) {
    make();
    ui::StageSizeFields fields(*app, *stateSignals);
    fields.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fields));
    int stages = 0;
    auto sub = app->observe([&](Aspect a) { stages += a == Aspect::program; });
    type(fields.widthField(), "2560", false);
    EXPECT_EQ(stages, 0) << "each keystroke applied";
    EXPECT_EQ(app->stageWidth(), 1920);
    // A change elsewhere does not overwrite the edit under way.
    app->setStageHeight(720);
    turn();
    EXPECT_EQ(fields.widthField()->text(), "2560");
    EXPECT_EQ(fields.heightField()->text(), "720");
    fields.heightField()->setFocus();
    turn();
    EXPECT_EQ(app->stageWidth(), 2560);
    EXPECT_EQ(app->resolution(), "2560x720");
}

TEST_F(SettingsTest, FrameRateFieldKeepsTheStageLimits) {
    make();
    QWidget host;
    ui::WholeNumberField* fps = ui::stageFpsField(*app, *stateSignals, &host);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    EXPECT_EQ(fps->text(), "60");
    for (auto [typed, want] : std::vector<std::pair<const char*, std::int64_t>>{
             {"500", 240}, {"0", 240}, {"-1", 240}, {"x", 240}, {"50", 50}, {"1", 1}}) {
        SCOPED_TRACE(typed);
        type(fps, typed);
        EXPECT_EQ(app->stageFps(), want);
        EXPECT_EQ(fps->text(), QString::number(want));
    }
    app->setFrameRate("25p");
    turn();
    EXPECT_EQ(fps->text(), "25");
}

TEST(QRShareRowText, LongValuesAreCutInTheMiddleOnTwoLines) {
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(11);
    const QFontMetrics m(font);
    const int width = m.horizontalAdvance(QStringLiteral("0123456789"));
    EXPECT_EQ(ui::middleTruncated("short", m, width, 2), "short");
    EXPECT_EQ(ui::middleTruncated("0123456789abcdefghij", m, width, 2), "0123456789\nabcdefghij");
    const QString cut = ui::middleTruncated("0123456789abcdefghijKLMNOPQRST", m, width, 2);
    EXPECT_EQ(cut.count('\n'), 1);
    EXPECT_TRUE(cut.startsWith("0123")) << cut.toStdString();
    EXPECT_TRUE(cut.endsWith("QRST")) << cut.toStdString();
    EXPECT_TRUE(cut.contains(QChar(0x2026)));
    for (const QString& line : cut.split('\n')) EXPECT_LE(m.horizontalAdvance(line), width);
}

}  // namespace
}  // namespace ombry::ui_test
