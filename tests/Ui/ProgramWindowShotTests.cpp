// The whole main window in a real X server: two live layers, the program meter moving and the properties
// window open. The screenshot is written to program-window.png in the test's build folder for a person to look at.
#include <QLabel>
#include <QScreen>

#include "GlTestSupport.hpp"
#include "UiTestSupport.hpp"
#include "Ui/Program/AudioMeter.hpp"
#include "Ui/Program/ProgramPanelView.hpp"
#include "Ui/Properties/PropertiesWindowView.hpp"
#include "Ui/Shell/Theme.hpp"

namespace ombry::ui_test {
namespace {

class ProgramWindowShot : public UiTest {};

TEST_F(ProgramWindowShot, MainWindowWithTwoLiveLayersAndThePropertiesWindow) {
    ui::theme::apply(*qApp);
    out = media::AudioOutput::createNull(true);  // pulls the program sound in real time, so the meter moves
    make();
    // The picture: the composed stage read back after every frame (a test stand-in for the GL view).
    QPointer<QLabel> picture;
    app->previewRenderer().setCompositeConsumer("shot", [&picture](const GpuRenderTarget& stage, int) {
        if (!picture) return;
        const test::Pixels px = test::readTarget(stage);
        QImage image(px.bgra.data(), px.width, px.height, px.width * 4, QImage::Format_ARGB32_Premultiplied);
        picture->setPixmap(QPixmap::fromImage(image.mirrored().scaled(picture->size(), Qt::KeepAspectRatio,
                                                                      Qt::SmoothTransformation)));
    });
    ui::ColumnFactories columns = ui::defaultColumns();
    auto ctx = context();
    ctx.picture = [&picture](NativeStageRenderer&, QWidget* parent) -> QWidget* {
        picture = new QLabel(parent);
        picture->setAlignment(Qt::AlignCenter);
        picture->setStyleSheet(QStringLiteral("background: black;"));
        return picture;
    };
    mainWindow = std::make_unique<ui::MainWindowController>(ctx, columns);
    mainWindow->showWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(mainWindow.get()));

    const MediaItem clip = add(video("orange"));
    const MediaItem tone = add(stage_test::fixture("tone-long.wav",
                                                   "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=30")
                                   .string());
    app->library.setMeta(clip.id, [](MediaItem& m) {
        m.width = 1280;
        m.height = 720;
        m.fps = 30;
        m.duration = 60;
    });
    ASSERT_TRUE(app->trigger(*app->library.item(clip.id), false));
    ASSERT_TRUE(app->trigger(*app->library.item(tone.id), false));
    auto* panel = mainWindow->findChild<ui::ProgramPanelView*>("programColumn");
    ASSERT_TRUE(panel);
    // Play until the meter shows the tone.
    for (int i = 0; i < 100 && panel->meter()->bars()->left() <= 0; ++i) {
        advance(0.05);
        // The null output pulls the sound on its own thread: give it a moment of real time to do so.
        q.waitUntil([&] { return app->meter().l > 0; }, 0.05);
        turn();
    }
    EXPECT_GT(panel->meter()->bars()->left(), 0) << "the meter moves with the tone";
    EXPECT_EQ(panel->liveCount()->text(), "2 of 4 live");

    ui::openProperties(windows, *app, clip.id);
    QWidget* props = windows.window("properties");
    ASSERT_TRUE(props);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(props));
    advance(0.2);
    for (int i = 0; i < 5; ++i) turn();
    QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    // The facts box of the properties window stands out from the board behind it.
    const QPoint facts = props->findChild<QWidget*>("factsBox")->mapToGlobal(QPoint(4, 4));
    EXPECT_NE(shot.pixel(facts), shot.pixel(props->mapToGlobal(QPoint(-30, 0))));
    ASSERT_FALSE(shot.isNull());
    const QString file = QStringLiteral(QT_TESTCASE_BUILDDIR "/program-window.png");
    EXPECT_TRUE(shot.save(file)) << file.toStdString();
    std::printf("screenshot: %s (%dx%d)\n", file.toUtf8().constData(), shot.width(), shot.height());
}

}  // namespace
}  // namespace ombry::ui_test
