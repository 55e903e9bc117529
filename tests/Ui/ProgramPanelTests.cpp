// The program column over a real state: the layer rows, Clear All and Cut to Black, the transport and its
// scrub track, the master fader and meter, and the shared ticker on the virtual clock.
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include "UiTestSupport.hpp"
#include "Ui/Bridge/Ticker.hpp"
#include "Ui/Program/AudioMeter.hpp"
#include "Ui/Program/LayerRow.hpp"
#include "Ui/Program/ProgramPanelView.hpp"
#include "Ui/Program/ProgramTimecode.hpp"
#include "Ui/Widgets/DragTrack.hpp"
#include "Ui/Widgets/SectionLabel.hpp"

namespace ombry::ui_test {
namespace {

// "hh:mm:ss:ff" back to seconds.
double timecodeSeconds(const QString& text, int fps) {
    const QStringList p = text.split(':');
    return p[0].toInt() * 3600 + p[1].toInt() * 60 + p[2].toInt() + p[3].toDouble() / fps;
}

class ProgramPanelTest : public UiTest {
protected:
    ui::ProgramPanelView& panel() {
        auto* p = window().findChild<ui::ProgramPanelView*>("programColumn");
        EXPECT_TRUE(p);
        return *p;
    }
    ui::LayerRow& row(LayerId id) {
        for (auto* r : panel().rows())
            if (r->layer() == id) return *r;
        ADD_FAILURE() << "no row";
        return *panel().rows().front();
    }
    static QString text(QWidget* w, const char* child) { return w->findChild<QLabel*>(child)->text(); }
    // Takes the clip and lets the renderer report its playhead and duration.
    void take(const MediaItem& clip) {
        ASSERT_TRUE(app->trigger(clip, false));
        advance(0.2);
        turn();
    }
    std::vector<std::string> actions() const {
        std::vector<std::string> out;
        for (const auto& t : transports) out.push_back(t.action);
        return out;
    }
};

TEST_F(ProgramPanelTest, WithNothingLiveEveryRowIsOfflineAndClearAllIsDisabled) {
    make();
    auto& p = panel();
    EXPECT_EQ(p.liveCount()->text(), "0 of 4 live");
    EXPECT_FALSE(p.clearAll()->isEnabled());
    EXPECT_EQ(p.cutToBlack()->text(), "Cut to Black");
    QStringList captions;
    for (auto* l : p.findChildren<ui::SectionLabel*>()) captions << l->text();
    EXPECT_EQ(captions, QStringList({"PROGRAM OUTPUT", "PROGRAM LAYERS"}));
    QStringList tags;
    for (auto* r : p.rows()) {
        tags << text(r, "layerTag");
        EXPECT_EQ(text(r, "liveLabel"), "OFFLINE");
        EXPECT_FALSE(r->findChild<QToolButton*>("clearLayer")->isVisible());
        EXPECT_FALSE(r->transport()->isVisible());
        EXPECT_FALSE(r->volumeTrack()->isVisible());
    }
    EXPECT_EQ(tags, QStringList({"OVL", "MED", "BG", "AUD"}));
    // The rows stand top to bottom in that order.
    for (std::size_t i = 1; i < p.rows().size(); ++i) EXPECT_GT(p.rows()[i]->y(), p.rows()[i - 1]->y());
    EXPECT_GT(p.cutToBlack()->y(), p.rows().back()->y());
}

TEST_F(ProgramPanelTest, AStillShowsLiveWithoutTransportAndAVideoAddsTransportAndVolume) {
    make();
    const MediaItem still = add(image());
    const MediaItem clip = add(video());
    app->library.setMeta(still.id, [](MediaItem& m) { m.layer = LayerId::overlay; });
    auto& p = panel();
    take(*app->library.item(still.id));
    take(clip);
    EXPECT_EQ(p.liveCount()->text(), "2 of 4 live");
    EXPECT_TRUE(p.clearAll()->isEnabled());
    auto& overlay = row(LayerId::overlay);
    EXPECT_EQ(text(&overlay, "liveLabel"), "LIVE");
    EXPECT_EQ(text(&overlay, "clipName"), QString::fromStdString(still.name));
    EXPECT_TRUE(overlay.findChild<QToolButton*>("clearLayer")->isVisible());
    EXPECT_FALSE(overlay.transport()->isVisible());
    EXPECT_FALSE(overlay.volumeTrack()->isVisible());
    auto& media = row(LayerId::media);
    EXPECT_TRUE(media.transport()->isVisible());
    EXPECT_TRUE(media.volumeTrack()->isVisible());
    EXPECT_DOUBLE_EQ(media.volumeTrack()->fraction(), 1.0);

    // A live clip whose library item is gone keeps its row without a clip name.
    app->library.remove({still.id});
    turn();
    EXPECT_FALSE(overlay.findChild<QLabel*>("clipName")->isVisible());
    // The row's clear button empties that layer only.
    QTest::mouseClick(media.findChild<QToolButton*>("clearLayer"), Qt::LeftButton);
    turn();
    EXPECT_FALSE(onAir());
    EXPECT_EQ(text(&media, "liveLabel"), "OFFLINE");
    EXPECT_FALSE(media.transport()->isVisible());
}

TEST_F(ProgramPanelTest, ClearAllStopsAPendingAdvanceBeforeClearing) {
    make();
    const MediaItem a = add(video());
    const MediaItem b = add(video("green"));
    playlist({a.id, b.id}, [](Group& g) { g.advanceSeconds = 1; });
    auto& p = panel();
    take(*app->library.item(a.id));
    ASSERT_TRUE(app->advancePending());
    QTest::mouseClick(p.clearAll(), Qt::LeftButton);
    EXPECT_FALSE(app->advancePending());
    advance(1.5);
    turn();
    EXPECT_FALSE(onAir()) << "the playlist did not advance on its own after Clear All";
    EXPECT_EQ(p.liveCount()->text(), "0 of 4 live");
    EXPECT_FALSE(p.clearAll()->isEnabled());
}

TEST_F(ProgramPanelTest, CutToBlackTurnsIntoRestoreOutputAndKeepsTheLayers) {
    make();
    const MediaItem clip = add(video());
    auto& p = panel();
    take(clip);
    QTest::mouseClick(p.cutToBlack(), Qt::LeftButton);
    turn();
    EXPECT_TRUE(app->program.state().black);
    EXPECT_EQ(p.cutToBlack()->text(), "Restore Output");
    EXPECT_EQ(p.cutToBlack()->accessibleName(), "Restore Output");
    EXPECT_EQ(p.liveCount()->text(), "1 of 4 live");
    QTest::mouseClick(p.cutToBlack(), Qt::LeftButton);
    turn();
    EXPECT_FALSE(app->program.state().black);
    EXPECT_EQ(p.cutToBlack()->text(), "Cut to Black");
}

TEST_F(ProgramPanelTest, PlayPauseAndRestartSetTheStateFirstThenReachTheLayerHostInOrder) {
    make();
    const MediaItem clip = add(video());
    panel();
    take(clip);
    auto* t = row(LayerId::media).transport();
    transports.clear();
    EXPECT_EQ(t->playButton()->accessibleName(), "Pause");
    QTest::mouseClick(t->playButton(), Qt::LeftButton);
    EXPECT_FALSE(onAir()->playing) << "paused in the program state at once";
    EXPECT_EQ(t->playButton()->accessibleName(), "Play");
    QTest::mouseClick(t->restartButton(), Qt::LeftButton);
    EXPECT_FALSE(onAir()->playing) << "restart does not change the playing state";
    QTest::mouseClick(t->playButton(), Qt::LeftButton);
    EXPECT_TRUE(onAir()->playing);
    EXPECT_EQ(actions(), (std::vector<std::string>{"pause", "seek", "play"}));
    for (const auto& m : transports) EXPECT_EQ(m.layer, LayerId::media);
    EXPECT_EQ(transports[1].time, 0.0);
    EXPECT_FALSE(transports[0].time);
    // The host took them: the clip plays on from the start.
    advance(0.5);
    const auto [current, duration, playing] = app->transportProgress(LayerId::media);
    EXPECT_TRUE(playing);
    EXPECT_GT(duration, 50);
    EXPECT_LT(current, 1.0);
}

TEST_F(ProgramPanelTest, DraggingTheScrubTrackMovesOnlyTheViewUntilTheReleaseSeeksOnce) {
    make();
    const MediaItem clip = add(video());
    panel();
    take(clip);
    auto* t = row(LayerId::media).transport();
    ui::DragTrack* track = t->scrubTrack();
    const double duration = std::get<1>(app->transportProgress(LayerId::media));
    ASSERT_GT(duration, 50);
    transports.clear();
    const int w = track->width();
    auto at = [&](double f) { return QPoint(int(std::lround(5 + (w - 10) * f)), 6); };
    QTest::mousePress(track, Qt::LeftButton, {}, at(0.25));
    QTest::mouseMove(track, at(0.5));
    EXPECT_TRUE(transports.empty()) << "no command while dragging";
    ASSERT_TRUE(t->scrubbing());
    EXPECT_NEAR(*t->scrubbing(), 0.5, 0.02);
    EXPECT_EQ(t->timeText(), QString::fromStdString(app->timecode(*t->scrubbing() * duration)))
        << "the time follows the pointer";
    QTest::mouseMove(track, QPoint(w + 40, 6));
    EXPECT_DOUBLE_EQ(*t->scrubbing(), 1.0) << "pinned at the end";
    QTest::mouseRelease(track, Qt::LeftButton, {}, at(0.75));
    ASSERT_EQ(transports.size(), 1u);
    EXPECT_EQ(transports[0].action, "seek");
    ASSERT_TRUE(transports[0].time);
    EXPECT_NEAR(*transports[0].time, 0.75 * duration, 0.02 * duration);
    EXPECT_FALSE(t->scrubbing());
    // The host seeks there; the playhead it reports comes back to the row.
    // (The exact seek decodes on the player's thread, in real time.)
    EXPECT_TRUE(q.waitUntil(
        [&] {
            app->previewRenderer().tick(appClock().monotonic());
            return std::get<0>(app->transportProgress(LayerId::media)) > 0.5 * duration;
        },
        20.0));
    EXPECT_NEAR(std::get<0>(app->transportProgress(LayerId::media)), 0.75 * duration, 0.05 * duration);
    turn();
    EXPECT_NEAR(track->fraction(), 0.75, 0.05);
}

TEST_F(ProgramPanelTest, AClickOnTheScrubTrackBeforeTheDurationIsKnownSendsNoSeek) {
    make();
    const MediaItem clip = add(video());
    panel();
    ASSERT_TRUE(app->trigger(clip, false));
    turn();  // live, but the renderer has not reported a playhead yet
    auto* t = row(LayerId::media).transport();
    ASSERT_TRUE(t->isVisible());
    ASSERT_EQ(std::get<1>(app->transportProgress(LayerId::media)), 0.0);
    transports.clear();
    QTest::mouseClick(t->scrubTrack(), Qt::LeftButton, {}, QPoint(t->scrubTrack()->width() / 2, 6));
    EXPECT_TRUE(transports.empty()) << "a live clip is not sent back to 0";
    EXPECT_FALSE(t->scrubbing());
    EXPECT_EQ(t->scrubTrack()->fraction(), 0.0);
    EXPECT_EQ(t->timeText(), "00:00:00:00");
}

TEST_F(ProgramPanelTest, TheVolumeTrackSetsTheLayerVolumeOnEveryStep) {
    make();
    const MediaItem clip = add(video());
    panel();
    take(clip);
    ui::DragTrack* v = row(LayerId::media).volumeTrack();
    const int w = v->width();
    QTest::mousePress(v, Qt::LeftButton, {}, QPoint(5 + (w - 10) / 2, 6));
    EXPECT_NEAR(onAir()->volume, 0.5, 0.02);
    QTest::mouseMove(v, QPoint(5 + (w - 10) / 4, 6));
    EXPECT_NEAR(onAir()->volume, 0.25, 0.02);
    QTest::mouseRelease(v, Qt::LeftButton, {}, QPoint(-30, 6));
    EXPECT_EQ(onAir()->volume, 0.0);
}

TEST_F(ProgramPanelTest, TheFaderSetsTheMasterVolumeAndItsLabel) {
    make();
    auto* meter = panel().meter();
    ui::FaderTrack* fader = meter->fader();
    EXPECT_EQ(meter->level()->text(), "+0.0 dB");
    EXPECT_NEAR(fader->capRect().bottom(), fader->height() - (fader->height() - 9) * 60.0 / 66, 0.5);
    QTest::mousePress(fader, Qt::LeftButton, {}, QPoint(8, -50));
    EXPECT_DOUBLE_EQ(app->masterVolumeDB(), 6);
    QTest::mouseMove(fader, QPoint(8, fader->height() + 50));
    EXPECT_DOUBLE_EQ(app->masterVolumeDB(), -60);
    QTest::mouseRelease(fader, Qt::LeftButton, {}, QPoint(8, fader->height() + 50));
    turn();
    EXPECT_EQ(meter->level()->text(), "-60.0 dB");
    EXPECT_NEAR(fader->capRect().bottom(), fader->height(), 0.01) << "the cap rests on the bottom";
    EXPECT_NEAR(app->program.state().masterVolume, 0.001, 1e-6);
    // Another source of the volume (the keyboard's mute) moves the fader too.
    app->toggleMute();
    app->toggleMute();
    app->setMasterVolumeDB(-12.5);
    turn();
    EXPECT_EQ(meter->level()->text(), "-12.5 dB");
    EXPECT_DOUBLE_EQ(fader->fraction(), 47.5 / 66);
}

TEST_F(ProgramPanelTest, TheMeterDrawsTheStateLevelsAtMostOncePerInterval) {
    make();
    auto* bars = panel().meter()->bars();
    QTRY_VERIFY(bars->isVisible());
    const int before = bars->repaints();
    for (int i = 1; i <= 20; ++i) app->meterEngine().onLevels(MeterLevels{0.02 * i, 0.01 * i, 1, 1});
    QTRY_COMPARE(bars->left(), 0.4);
    EXPECT_DOUBLE_EQ(bars->left(), 0.4);
    EXPECT_DOUBLE_EQ(bars->right(), 0.2);
    QApplication::processEvents();
    EXPECT_LE(bars->repaints() - before, 2) << "twenty reports, one repaint";
}

TEST_F(ProgramPanelTest, TheTickerRunsOnlyWhileAClipPlaysAndTheWindowIsVisible) {
    make();
    const MediaItem clip = add(video());
    panel();
    ui::Ticker& ticker = stateSignals->ticker();
    q.advance(1.0);
    EXPECT_FALSE(ticker.running());
    EXPECT_EQ(ticker.ticks(), 0) << "nothing plays";
    take(clip);
    EXPECT_TRUE(ticker.running());
    int ticks = ticker.ticks();
    q.advance(1.0);
    EXPECT_NEAR(ticker.ticks() - ticks, 30, 1) << "30 a second while playing";

    auto* timecode = panel().preview()->timecode();
    const QString shown = timecode->text();
    q.advance(0.5);
    EXPECT_NE(timecode->text(), shown) << "the timecode follows the playhead";

    app->setUiVisible(false);
    turn();
    ticks = ticker.ticks();
    q.advance(1.0);
    EXPECT_EQ(ticker.ticks(), ticks) << "hidden window";
    app->setUiVisible(true);
    turn();
    q.advance(1.0);
    EXPECT_GT(ticker.ticks(), ticks);

    QTest::mouseClick(row(LayerId::media).transport()->playButton(), Qt::LeftButton);  // pause
    turn();
    EXPECT_FALSE(ticker.running());
    ticks = ticker.ticks();
    q.advance(1.0);
    EXPECT_EQ(ticker.ticks(), ticks) << "paused";
}

TEST_F(ProgramPanelTest, TimecodeFollowsTheMediaLayerAndReadsZeroWithNothingLive) {
    make();
    app->setFrameRate("30p");
    EXPECT_EQ(app->timecode(61.5), "00:01:01:15");
    auto* timecode = panel().preview()->timecode();
    EXPECT_EQ(timecode->text(), "00:00:00:00");
    const MediaItem tone = add(audio());
    const MediaItem clip = add(video());
    take(tone);
    take(clip);
    // Both play; the media layer's playhead is the one shown.
    QTest::mouseClick(row(LayerId::media).transport()->restartButton(), Qt::LeftButton);
    advance(0.3);
    turn();
    // Both play on; the media layer's playhead, restarted later, is the one shown (within a frame).
    const double shown = timecodeSeconds(timecode->text(), 30);
    EXPECT_NEAR(shown, std::get<0>(app->transportProgress(LayerId::media)), 0.1);
    EXPECT_GT(std::get<0>(app->transportProgress(LayerId::audio)) - shown, 0.15);
}

TEST_F(ProgramPanelTest, EveryControlHasAnAccessibleName) {
    make();
    const MediaItem clip = add(video());
    auto& p = panel();
    take(clip);
    for (auto* b : p.findChildren<QAbstractButton*>())
        if (b->isVisible()) {
            EXPECT_FALSE(b->accessibleName().isEmpty()) << b->objectName().toStdString();
        }
    for (auto* s : p.findChildren<QAbstractSlider*>())
        if (s->isVisible()) {
            EXPECT_FALSE(s->accessibleName().isEmpty()) << s->objectName().toStdString();
        }
    EXPECT_EQ(row(LayerId::media).volumeTrack()->accessibleName(), "Layer volume");
    EXPECT_EQ(row(LayerId::media).transport()->scrubTrack()->accessibleName(), "Scrub position");
    EXPECT_EQ(p.meter()->fader()->accessibleName(), "Master volume");
    EXPECT_EQ(p.meter()->fader()->toolTip(), "Master volume \u2014 drag to adjust");
}

}  // namespace
}  // namespace ombry::ui_test
