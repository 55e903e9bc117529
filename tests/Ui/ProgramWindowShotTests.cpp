// The whole main window in a real X server: two live layers, the program meter moving and the properties
// window open. The screenshot is written to program-window.png in the test's build folder for a person to look at.
#include <QLabel>
#include <QScreen>

#include "GlTestSupport.hpp"
#include "UiTestSupport.hpp"
#include "Ui/Program/AudioMeter.hpp"
#include "Ui/Program/ProgramPreview.hpp"
#include "Ui/Program/ProgramPanelView.hpp"
#include "Ui/Properties/PropertiesWindowView.hpp"
#include "Ui/Shell/Theme.hpp"

namespace ombry::ui_test {
namespace {

class ProgramWindowShot : public UiTest {
protected:
    // The main window over the state made, its preview's picture the composed stage read back after every
    // frame (a test stand-in for the GL view).
    void openWindow() {
        ui::theme::apply(*qApp);
        app->previewRenderer().setCompositeConsumer("shot", [this](const GpuRenderTarget& stage, int) {
            if (!picture) return;
            const test::Pixels px = test::readTarget(stage);
            QImage image(px.bgra.data(), px.width, px.height, px.width * 4, QImage::Format_ARGB32_Premultiplied);
            picture->setPixmap(QPixmap::fromImage(image.mirrored().scaled(picture->size(), Qt::KeepAspectRatio,
                                                                          Qt::SmoothTransformation)));
        });
        auto ctx = context();
        ctx.picture = [this](NativeStageRenderer&, QWidget* parent) -> QWidget* {
            picture = new QLabel(parent);
            picture->setAlignment(Qt::AlignCenter);
            picture->setStyleSheet(QStringLiteral("background: black;"));
            return picture;
        };
        mainWindow = std::make_unique<ui::MainWindowController>(ctx, ui::defaultColumns());
        mainWindow->showWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(mainWindow.get()));
    }
    static void save(const QImage& shot, const char* name) {
        const QString file = QStringLiteral(QT_TESTCASE_BUILDDIR "/") + QLatin1String(name);
        EXPECT_TRUE(shot.save(file)) << file.toStdString();
        std::printf("screenshot: %s (%dx%d)\n", file.toUtf8().constData(), shot.width(), shot.height());
    }
    QPointer<QLabel> picture;
};

TEST_F(ProgramWindowShot, MainWindowWithTwoLiveLayersAndThePropertiesWindow) {
    out = media::AudioOutput::createNull(true);  // pulls the program sound in real time, so the meter moves
    make();
    openWindow();

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
    save(shot, "program-window.png");
}

// The read-outs over the brightest of pictures: their shadows keep a dark edge around every glyph.
TEST_F(ProgramWindowShot, ThePreviewsReadOutsStayLegibleOverAYellowStill) {
    make();
    openWindow();
    mainWindow->resize(1400, 860);
    const MediaItem still = add(stage_test::stillImage("yellow").string());
    app->library.setMeta(still.id, [](MediaItem& m) {
        m.width = 1920;
        m.height = 1080;
    });
    ASSERT_TRUE(app->trigger(*app->library.item(still.id), false));
    auto* preview = mainWindow->findChild<ui::ProgramPreview*>("programPreview");
    ASSERT_TRUE(preview);
    const QRect r = preview->pictureRect();
    auto shot = [] { return QGuiApplication::primaryScreen()->grabWindow(0).toImage(); };
    const QPoint middle = preview->mapToGlobal(r.center());
    for (int i = 0; i < 100 && qGreen(shot().pixel(middle)) < 200; ++i) {
        advance(0.05);
        turn();
    }
    ASSERT_TRUE(preview->source());
    const QImage image = shot();
    const QRgb yellow = image.pixel(middle);
    ASSERT_GT(qRed(yellow), 220);
    ASSERT_LT(qBlue(yellow), 60);
    save(image.copy(QRect(preview->mapToGlobal(r.topLeft()), r.size())), "preview-over-yellow.png");

    // The two lines of the read-out, bottom-leading, and the badges, top-trailing.
    const QFontMetrics fm(ui::theme::monoCaption());
    const int lines = 2 * fm.height() + 2;
    const QRect readOut(preview->mapToGlobal(r.bottomLeft() + QPoint(7, -7 - lines)),
                        QSize(fm.horizontalAdvance(QStringLiteral("OUT 1920x1080 \u00B7 60p")), lines));
    const QRect badges(preview->mapToGlobal(r.topRight() + QPoint(-150, 6)), QSize(144, fm.height() + 4));
    for (const auto& [what, band] : {std::pair{"read-out", readOut}, {"badges", badges}}) {
        int darkest = 255;
        for (int y = band.top(); y <= band.bottom(); ++y)
            for (int x = band.left(); x <= band.right(); ++x) darkest = std::min(darkest, qGray(image.pixel(x, y)));
        EXPECT_LT(darkest, 90) << what << ": nothing dark sets the text off the yellow";
    }
}

}  // namespace
}  // namespace ombry::ui_test
