// An operator prepares and plays a show with the installed application: a private X server with two
// screens, a user-mode sound server with a null sink, the remote control on with a password. The window
// is driven with the real pointer and keys (xdotool), files come through its file dialog and a drop from
// another client, and what the operator would see is read back from the screens, the servers, an output
// page and an upload page in headless Chromium and a WebSocket remote. Screenshots of the key moments are
// written into the test's output folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <sstream>
#include <chrono>
#include <thread>

#include <nlohmann/json.hpp>

#include "../Audio/PulseServer.hpp"
#include "../Ui/InstalledApp.hpp"
#include "../Ui/XvfbServer.hpp"
#include "RemoteReader.hpp"
#include "support/Processes.hpp"
#include "support/TestEnv.hpp"

namespace ombry {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using test::near;
using test::waitFor;
using test::XClient;

constexpr const char* kPassword = "stage door";
constexpr const char* kToken = "b00thT0ken";

// The show's media, generated: each picture in a colour of its own, so that the screens tell them apart.
struct ShowMedia {
    fs::path dir;
    fs::path video, still, audio, deck, frames, upload;
};

bool ffmpeg(std::vector<std::string> args) {
    args.insert(args.begin(), {"ffmpeg", "-nostdin", "-loglevel", "error", "-y"});
    return test::runProcess(args) == 0;
}

// A PDF of full-page colour fills, one page per colour (r g b from 0 to 1).
void writeDeck(const fs::path& file, const std::vector<std::string>& fills) {
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>"};
    std::string kids;
    for (std::size_t i = 0; i < fills.size(); ++i) kids += std::to_string(3 + 2 * i) + " 0 R ";
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(fills.size()) + " >>");
    for (std::size_t i = 0; i < fills.size(); ++i) {
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 640 360] /Contents " + std::to_string(4 + 2 * i) +
                          " 0 R >>");
        const std::string content = fills[i] + " rg 0 0 640 360 re f";
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    }
    std::string out = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(out.size());
        out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = out.size();
    out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (auto o : offsets) {
        char line[24];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    test::writeFile(file, out);
}

ShowMedia makeMedia(const fs::path& dir) {
    ShowMedia m{dir, dir / "opener.mp4", dir / "logo.png", dir / "bed.wav", dir / "slides.pdf", dir / "sparkle",
                dir / "sponsor.png"};
    EXPECT_TRUE(ffmpeg({"-f", "lavfi", "-i", "color=c=red:s=640x360:r=30:d=12", "-f", "lavfi", "-i", "sine=f=440:d=12",
                        "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", m.video.string()}));
    // Opaque blue in the middle, transparent around it.
    EXPECT_TRUE(ffmpeg({"-f", "lavfi", "-i", "color=c=blue:s=320x180,format=rgba,pad=640:360:160:90:color=black@0",
                        "-frames:v", "1", m.still.string()}));
    EXPECT_TRUE(ffmpeg({"-f", "lavfi", "-i", "sine=f=660:d=4", m.audio.string()}));
    writeDeck(m.deck, {"1 1 0", "0 1 1"});
    fs::create_directories(m.frames);
    EXPECT_TRUE(ffmpeg({"-f", "lavfi", "-i", "color=c=magenta:s=320x180:r=30", "-frames:v", "24",
                        (m.frames / "sparkle_%03d.png").string()}));
    EXPECT_TRUE(ffmpeg({"-f", "lavfi", "-i", "color=c=lime:s=640x360", "-frames:v", "1", m.upload.string()}));
    return m;
}

// The bounding box of the pixels near a colour inside `area` of a screenshot.
QRect blob(const QImage& shot, const QRect& area, int r, int g, int b, int tolerance = 30) {
    int left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1, count = 0;
    for (int y = area.top(); y <= area.bottom(); y += 2)
        for (int x = area.left(); x <= area.right(); x += 2)
            if (near(shot.pixel(x, y), r, g, b, tolerance)) {
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
                ++count;
            }
    if (count < 50) return {};
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

std::string describe(QRgb px) {
    return std::to_string(qRed(px)) + "," + std::to_string(qGreen(px)) + "," + std::to_string(qBlue(px));
}

class OperatorShow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(xvfb.running()) << xvfb.error();
        OMBRY_REQUIRE_PULSE(pulse);
        screen0 = std::make_unique<XClient>(xvfb.display() + ".0");
        screen1 = std::make_unique<XClient>(xvfb.display() + ".1");
        shots = fs::path(OMBRY_SHOT_DIR);
        fs::create_directories(shots);
        // The application's logs beside the screenshots, where a sanitizer's report is kept too.
        app = std::make_unique<test::InstalledApp>(
            xvfb.display(), std::vector<std::string>{"PULSE_SERVER=" + pulse.address()}, shots);
        port = test::freePort();
        // Past the first-run sheet, which would take the keys sent to the main window.
        test::writeFile(app->home() / "config/Ombry/defaults.json", "{\"hasSeenOnboarding\": true}");
        test::writeFile(app->supportDir() / "settings.json",
                        Json{{"remoteControlEnabled", true},
                             {"remoteControlPort", port},
                             {"remoteControlPassword", kPassword},
                             {"mediaUploadEnabled", true},
                             {"mediaUploadToken", kToken}}
                            .dump());
        media = makeMedia(test::tempDir("media"));
    }

    // --- the application from outside ---
    std::string api(const std::string& path) {
        const std::string sep = path.find('?') == std::string::npos ? "?" : "&";
        return test::shell("curl -s -m 5 'http://127.0.0.1:" + std::to_string(port) + path + sep + "k=stage%20door'");
    }
    Json state() { return Json::parse(api("/api/state"), nullptr, false); }
    std::vector<std::string> clipNames(const std::string& playlist = "") {
        std::vector<std::string> names;
        const Json s = state();
        if (s.is_object() && s.contains("clips"))
            for (const auto& c : s["clips"])
                if (playlist.empty() || c.value("playlist", "") == playlist) names.push_back(c.value("name", ""));
        return names;
    }
    std::string clipId(const std::string& name) {
        const Json s = state();
        if (s.is_object() && s.contains("clips"))
            for (const auto& c : s["clips"])
                if (c.value("name", "") == name) return c.value("id", "");
        return {};
    }
    std::string liveOn(const std::string& layer) {
        const Json s = state();
        if (!s.is_object() || !s["layers"][layer].is_object()) return {};
        return s["layers"][layer].value("name", "");
    }
    std::optional<XClient::Window> window(const std::string& title, XClient& on) {
        auto ws = on.windows(title);
        if (ws.empty()) return std::nullopt;
        return ws.front();
    }
    std::optional<XClient::Window> mainWindow() { return window("Ombry", *screen0); }
    // Waits for a top-level window other than the main one (a dialog by its title; a popover or tip, which
    // has none, by an empty one).
    std::optional<XClient::Window> awaitPopup(const std::string& title) {
        std::optional<XClient::Window> found;
        waitFor([&] {
            const auto main = mainWindow();
            for (const auto& w : screen0->windows(""))
                if (w.title == title && (!main || w.id != main->id) && w.geometry.width() < 1900) found = w;
            return found.has_value();
        }, 15);
        return found;
    }
    bool popupGone(xcb_window_t id) {
        return waitFor([&] {
            for (const auto& w : screen0->windows(""))
                if (w.id == id) return false;
            return true;
        }, 15);
    }

    // --- the operator's hands ---
    void xdo(const std::string& args) { test::shell("DISPLAY=" + xvfb.display() + ".0 xdotool " + args); }
    void keys(const std::string& k) {
        xdo("windowfocus --sync " + std::to_string(mainWindow()->id) + " key --clearmodifiers " + k);
    }
    void typeText(const std::string& text) { xdo("type --delay 4 '" + text + "'"); }
    void pressKey(const std::string& k) { xdo("key --clearmodifiers " + k); }
    void click(QPoint at) {
        xdo("mousemove --sync " + std::to_string(at.x()) + " " + std::to_string(at.y()) + " click 1");
    }
    // Press, a few moves on the way, release: what a hand does, slow enough for the drag to start.
    void drag(QPoint from, QPoint to) {
        xdo("mousemove --sync " + std::to_string(from.x()) + " " + std::to_string(from.y()) + " mousedown 1");
        for (int i = 1; i <= 8; ++i) {
            const QPoint p = from + (to - from) * i / 8;
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            xdo("mousemove --sync " + std::to_string(p.x()) + " " + std::to_string(p.y()));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        xdo("mouseup 1");
    }
    // Chooses files in the open file dialog: its folder typed first, then the names, quoted.
    void chooseInDialog(const XClient::Window& dialog, const fs::path& folder, const std::vector<std::string>& names) {
        xdo("windowfocus --sync " + std::to_string(dialog.id));
        typeText(folder.string() + "/");
        pressKey("Return");
        std::string quoted;
        for (const auto& n : names) quoted += "\"" + n + "\" ";
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        typeText(quoted);
        pressKey("Return");
    }

    void x0close() { screen0->requestClose(mainWindow()->id); }

    // --- what the operator sees ---
    QImage shot0() { return screen0->screenshot(); }
    QImage shot1() { return screen1->screenshot(); }
    void save(const QImage& img, const std::string& name) {
        img.save(QString::fromStdString((shots / (name + ".png")).string()));
    }
    // The incoming band's tinted header at the top of the board, and text at the right of the status bar
    // (where only the clock is otherwise).
    static bool encodingShown(const QImage& shot) {
        const QRgb band = shot.pixel(396, 152);
        int text = 0;
        for (int y = 1056; y < 1076; ++y)
            for (int x = 1650; x < 1840; ++x) text += qGray(shot.pixel(x, y)) > 120;
        return qBlue(band) > qRed(band) + 12 && text > 20;
    }
    // The listening TCP port of the process other than the remote control's: the output server's.
    int otherListeningPort(pid_t of) {
        int found = 0;
        waitFor([&] {
            const std::string out = test::shell("ss -Hltnp");
            std::istringstream lines(out);
            for (std::string line; std::getline(lines, line);) {
                if (line.find("pid=" + std::to_string(of) + ",") == std::string::npos) continue;
                const auto colon = line.find("127.0.0.1:") != std::string::npos ? line.find("127.0.0.1:") : line.find("*:");
                if (colon == std::string::npos) continue;
                const int p = std::atoi(line.c_str() + line.find(':', colon) + 1);
                if (p != port && p > 0) found = p;
            }
            return found > 0;
        }, 15);
        return found;
    }
    // Whether a client holds a connection to the port (the output page's WebSocket).
    bool connectedTo(int serverPort) {
        return !test::shell("ss -Htn state established '( sport = :" + std::to_string(serverPort) + " )'").empty();
    }
    // The board: the middle column of the main window.
    static QRect boardArea() { return QRect(252, 120, 1120, 930); }
    // The centre of the program preview at the top of the right column.
    static QPoint previewCentre() { return {1620, 215}; }
    std::optional<QPoint> card(int r, int g, int b) {
        std::optional<QPoint> at;
        waitFor([&] {
            const QRect box = blob(shot0(), boardArea(), r, g, b);
            if (box.isValid() && box.width() > 60) at = box.center();
            return at.has_value();
        }, 15);
        return at;
    }
    bool previewShows(int r, int g, int b) {
        return waitFor([&] { return near(shot0().pixel(previewCentre()), r, g, b); }, 15);
    }
    bool displayShows(int r, int g, int b) {
        return waitFor([&] { return near(shot1().pixel(640, 360), r, g, b); }, 15);
    }

    test::XvfbServer xvfb;
    test::PulseServer pulse;
    std::unique_ptr<XClient> screen0, screen1;
    std::unique_ptr<test::InstalledApp> app;
    int port = 0;
    ShowMedia media;
    fs::path shots;
};

TEST_F(OperatorShow, PreparesAndPlaysAShowThroughTheWindowAndTheServers) {
    pid_t pid = app->start({});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(waitFor([&] { return mainWindow().has_value() && state().is_object(); }, 30))
        << "no window or no remote control: " << app->logs();

    // A new project, named in the save dialog.
    const fs::path project = app->home() / "Show.ombry";
    keys("ctrl+n");
    auto saveAs = awaitPopup("Save As");
    ASSERT_TRUE(saveAs) << "no save dialog for the new project";
    xdo("windowfocus --sync " + std::to_string(saveAs->id));
    typeText(project.string());
    pressKey("Return");
    ASSERT_TRUE(popupGone(saveAs->id));
    ASSERT_TRUE(waitFor([&] { return fs::exists(project); }, 10)) << "the new project was not written";
    EXPECT_TRUE(clipNames().empty());
    save(shot0(), "01-new-project");

    // Three files through Add Media's file dialog.
    keys("ctrl+i");
    auto addMedia = awaitPopup("Add Media");
    ASSERT_TRUE(addMedia) << "no Add Media dialog";
    chooseInDialog(*addMedia, media.dir, {"opener.mp4", "logo.png", "bed.wav"});
    ASSERT_TRUE(waitFor([&] { return clipNames().size() == 3; }, 20)) << "clips: " << clipNames().size();
    auto names = clipNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"bed.wav", "logo.png", "opener.mp4"}));
    ASSERT_TRUE(card(255, 0, 0)) << "no red card for the video on the board";
    ASSERT_TRUE(card(0, 0, 255)) << "no blue card for the still";
    save(shot0(), "02-added-media");

    // An output page opens now, as an operator's browser source would, and follows the show.
    const std::string opener = clipId("opener.mp4");
    const int outputPort = otherListeningPort(pid);
    ASSERT_GT(outputPort, 0) << "the output server is not listening";
    const fs::path pageOut = test::tempDir("page") / "shown.json";
    std::atomic<bool> pageDone{false};
    std::thread page([&] {
        test::runProcess({OMBRY_NODE, OMBRY_WATCH_OUTPUT, "http://127.0.0.1:" + std::to_string(outputPort) + "/",
                            opener, "60000"},
                           pageOut.string());
        pageDone = true;
    });
    struct Join {
        std::thread& t;
        ~Join() { t.join(); }
    } joinPage{page};

    // A playlist from the sidebar's plus button.
    click({227, 77});
    auto editor = awaitPopup("");
    ASSERT_TRUE(editor) << "no new-playlist popover";
    click(editor->geometry.topLeft() + QPoint(190, 118));
    typeText("Walk-in");
    pressKey("Return");
    ASSERT_TRUE(popupGone(editor->id)) << "the popover stayed open";
    ASSERT_TRUE(waitFor([&] {
        const Json s = state();
        return s.is_object() && s["groups"].size() == 1 && s["groups"][0].value("name", "") == "Walk-in";
    }, 10)) << state().dump();
    save(shot0(), "03-new-playlist");

    // Back to every playlist; the still, then the video dragged into the playlist, then the video dragged
    // before the still.
    click({78, 110});
    const QPoint emptyPlaylist(813, 216);
    auto blue = card(0, 0, 255);
    ASSERT_TRUE(blue);
    drag(*blue, emptyPlaylist);
    ASSERT_TRUE(waitFor([&] { return clipNames("Walk-in") == std::vector<std::string>{"logo.png"}; }, 10))
        << "the still did not land in the playlist";
    auto red = card(255, 0, 0);
    ASSERT_TRUE(red);
    blue = card(0, 0, 255);
    ASSERT_TRUE(blue);
    // Onto the playlist's card row, right of the still: at its end.
    drag(*red, *blue + QPoint(260, 0));
    ASSERT_TRUE(waitFor([&] { return clipNames("Walk-in").size() == 2; }, 10))
        << "the video did not land in the playlist";
    EXPECT_EQ(clipNames("Walk-in"), (std::vector<std::string>{"logo.png", "opener.mp4"}));
    red = card(255, 0, 0);
    blue = card(0, 0, 255);
    ASSERT_TRUE(red && blue);
    drag(*red, *blue - QPoint(90, 0));
    EXPECT_TRUE(waitFor([&] {
        return clipNames("Walk-in") == std::vector<std::string>{"opener.mp4", "logo.png"};
    }, 10)) << "the video was not moved before the still";
    save(shot0(), "04-playlist-ordered");

    // The folder of frames and the deck dropped on the playlist from the file manager: the frames become
    // one clip, encoded with its progress shown; the deck a playlist of its own.
    ASSERT_TRUE(screen0->dropFiles(mainWindow()->id, {1000, 240}, {media.frames, media.deck}))
        << "the playlist refused the drop";
    // First the deck's question: "New Playlist “slides”", the second button.
    auto question = awaitPopup("Ombry");
    ASSERT_TRUE(question) << "no question about the slide deck";
    waitFor([] { return false; }, 0.5);  // painted, for the screenshot only
    save(shot0(), "05-deck-question");
    xdo("windowfocus --sync " + std::to_string(question->id));
    pressKey("Tab space");
    ASSERT_TRUE(popupGone(question->id));
    // Then the frames': "Import as One Clip", the default button.
    question = awaitPopup("Ombry");
    ASSERT_TRUE(question) << "no question about the image sequence";
    waitFor([] { return false; }, 0.5);  // painted, for the screenshot only
    save(shot0(), "05-sequence-question");
    xdo("windowfocus --sync " + std::to_string(question->id));
    pressKey("Return");
    ASSERT_TRUE(popupGone(question->id));
    // The encoding shows its progress in the status bar and in the incoming band above the playlists.
    bool encodingSeen = false;
    waitFor([&] {
        const QImage shot = shot0();
        if (!encodingShown(shot)) return clipNames("Walk-in").size() == 3;
        save(shot, "06-encoding");
        return encodingSeen = true;
    }, 60);
    EXPECT_TRUE(encodingSeen) << "no encoding progress in the status bar and the incoming band";
    ASSERT_TRUE(waitFor([&] { return clipNames("Walk-in").size() == 3; }, 60)) << "the frames never became a clip";
    EXPECT_EQ(clipNames("Walk-in")[2], "sparkle.webm");
    EXPECT_TRUE(waitFor([&] { return clipNames("slides").size() == 2; }, 30)) << "the deck's pages: " << state().dump();
    EXPECT_TRUE(card(255, 0, 255)) << "no magenta card for the encoded frames";
    EXPECT_TRUE(card(255, 255, 0)) << "no yellow card for the deck's first page";
    save(shot0(), "07-imported");

    // "Advance when a clip ends" and "Loop playlist" in the playlist's playback tip.
    click({1334, 155});
    auto tip = awaitPopup("");
    ASSERT_TRUE(tip) << "no playback tip";
    for (const QPoint at : {QPoint(32, 85), QPoint(32, 149)}) click(tip->geometry.topLeft() + at);
    const auto switchOn = [&](QPoint at) {
        const QRgb px = shot0().pixel(tip->geometry.topLeft() + at - QPoint(10, 0));
        return qBlue(px) > 150 && qRed(px) < 120;
    };
    EXPECT_TRUE(waitFor([&] { return switchOn({32, 85}) && switchOn({32, 149}); }, 10)) << "the switches are not on";
    save(shot0(), "08-playback-tip");
    pressKey("Escape");
    EXPECT_TRUE(popupGone(tip->id));

    // The program on the second screen, from the outputs in the sidebar.
    click({214, 944});
    ASSERT_TRUE(waitFor([&] { return !screen1->windows("").empty(); }, 15)) << "no display window";

    // A remote follows the show too; a click on the first card takes it live.
    test::RawClient client{std::uint16_t(port)};
    ASSERT_TRUE(client.upgrade("/?k=stage%20door"));
    ASSERT_TRUE(client.sendFrame(0x1, R"({"type":"hello","role":"remote"})"));
    test::RemoteReader remote(std::move(client));
    ASSERT_TRUE(waitFor([&] { return !remote.messages().empty(); }, 15)) << "the remote has no state";
    // The page has connected before the take.
    EXPECT_TRUE(waitFor([&] { return connectedTo(outputPort) || pageDone; }, 60)) << "the output page never connected";

    red = card(255, 0, 0);
    ASSERT_TRUE(red);
    click(*red);
    EXPECT_TRUE(previewShows(255, 0, 0)) << "the preview does not show the video";
    // At once the layer's pause, then a scrub to about four fifths of the 12 s clip on its transport.
    const QPoint playPause(1412, 475), scrubFrom(1460, 475), scrubTo(1804, 475);
    const auto mediaLayer = [&](const char* key, double otherwise) {
        const Json s = state();
        if (!s.is_object() || !s["layers"]["media"].is_object()) return otherwise;
        const Json& v = s["layers"]["media"][key];
        return v.is_boolean() ? double(v.get<bool>()) : v.is_number() ? v.get<double>() : otherwise;
    };
    click(playPause);
    EXPECT_TRUE(waitFor([&] { return liveOn("media") == "opener.mp4" && mediaLayer("playing", 1) == 0; }, 10))
        << "the layer's pause did not pause the video";
    click(scrubFrom + (scrubTo - scrubFrom) * 4 / 5);
    double scrubbedTo = -1;
    EXPECT_TRUE(waitFor([&] {
        scrubbedTo = mediaLayer("currentTime", -1);
        return scrubbedTo > 7.8 && scrubbedTo < 11.4;
    }, 10)) << "the scrub moved the playhead to " << scrubbedTo << " s";
    save(shot0(), "09-paused-and-scrubbed");

    EXPECT_TRUE(displayShows(255, 0, 0)) << "the second screen does not show the video";
    EXPECT_EQ(liveOn("media"), "opener.mp4");
    save(shot0(), "10-live-main");
    save(shot1(), "10-live-display");
    EXPECT_TRUE(waitFor([&] {
        for (const auto& m : remote.messages())
            if (m.value("type", "") == "state" && m["layers"]["media"].is_object() &&
                m["layers"]["media"].value("mediaId", "") == opener)
                return true;
        return false;
    }, 15)) << "the remote never saw the video live";

    // Meanwhile someone sends a file from the browser upload page into the playlist.
    const fs::path uploadOut = test::tempDir("upload") / "sent.json";
    std::thread uploader([&] {
        test::runProcess({OMBRY_NODE, OMBRY_SEND_UPLOAD,
                            "http://127.0.0.1:" + std::to_string(port) + "/upload?k=" + kToken, "Walk-in",
                            media.upload.string(), "60000"},
                           uploadOut.string());
    });
    struct JoinUpload {
        std::thread& t;
        ~JoinUpload() {
            if (t.joinable()) t.join();
        }
    } joinUpload{uploader};

    // The output page showed the take.
    ASSERT_TRUE(waitFor([&] { return pageDone.load(); }, 90)) << "the output page never ended";
    const Json shown = Json::parse(test::readFile(pageOut), nullptr, false);
    ASSERT_TRUE(shown.is_object()) << "the output page said: " << test::readFile(pageOut);
    EXPECT_EQ(shown.value("mediaId", ""), opener) << test::readFile(pageOut);
    const Json px = shown.value("pixel", Json::object());
    EXPECT_TRUE(near(qRgb(px.value("r", 0), px.value("g", 0), px.value("b", 0)), 255, 0, 0))
        << "the output page showed " << px.dump();

    // Cut to black and back with B.
    keys("b");
    EXPECT_TRUE(displayShows(0, 0, 0)) << "B did not cut the display to black";
    EXPECT_TRUE(previewShows(0, 0, 0)) << "B did not cut the preview to black";
    EXPECT_TRUE(state().value("black", false));
    save(shot0(), "11-black");
    keys("b");
    EXPECT_TRUE(displayShows(255, 0, 0)) << "B again did not bring the video back";
    EXPECT_FALSE(state().value("black", true));

    // The master fader dragged down from its top.
    drag({1888, 113}, {1888, 250});
    double masterDB = 0;
    EXPECT_TRUE(waitFor([&] {
        masterDB = state().value("masterVolumeDB", 0.0);
        return masterDB < -3;
    }, 10)) << "the master fader is at " << masterDB << " dB";
    save(shot0(), "12-master-fader");

    // Played on: the playlist advances by itself to the still when the video ends, with no black frame
    // between (the transition may mix the two).
    click(playPause);
    int samples = 0;
    std::optional<QRgb> blank;
    const bool advanced = waitFor([&] {
        const QRgb px = shot1().pixel(640, 360);
        ++samples;
        if (std::max({qRed(px), qGreen(px), qBlue(px)}) < 100) blank = px;
        return near(px, 0, 0, 255);
    }, 30);
    EXPECT_TRUE(advanced) << "the playlist did not advance to the still";
    EXPECT_FALSE(blank) << "the display showed " << describe(*blank) << " between the clips (" << samples
                        << " samples)";
    EXPECT_EQ(liveOn("media"), "logo.png");
    EXPECT_TRUE(previewShows(0, 0, 255));
    save(shot1(), "13-advanced-display");

    // The uploaded file has landed in the playlist.
    uploader.join();
    const Json sent = Json::parse(test::readFile(uploadOut), nullptr, false);
    EXPECT_EQ(sent.value("notice", ""), "Every file was added.") << test::readFile(uploadOut);
    EXPECT_TRUE(waitFor([&] { return clipNames("Walk-in").size() == 4; }, 20))
        << "the uploaded file is not in the playlist: " << state().dump();
    EXPECT_EQ(clipNames("Walk-in").back(), "sponsor.png");
    EXPECT_TRUE(card(0, 255, 0)) << "no green card for the uploaded still";
    save(shot0(), "14-uploaded");

    // Keyboard takes. 1 takes the first clip on the board: the video that played out, taken again, plays
    // from its start on both screens and stays on air rather than ending at once.
    keys("1");
    EXPECT_TRUE(displayShows(255, 0, 0)) << "pressing 1 did not take the video again";
    EXPECT_TRUE(previewShows(255, 0, 0));
    double retaken = -1;
    EXPECT_TRUE(waitFor([&] {
        retaken = mediaLayer("currentTime", -1);
        return liveOn("media") == "opener.mp4" && mediaLayer("playing", 0) == 1 && retaken >= 1 && retaken < 6;
    }, 15)) << "the video taken again is not playing from its start: " << liveOn("media") << " at " << retaken
            << " s";
    EXPECT_TRUE(near(shot1().pixel(640, 360), 255, 0, 0)) << "the second screen left the video taken again";
    save(shot1(), "14-taken-again");
    // 5 takes the fifth, the deck's first page.
    keys("5");
    EXPECT_TRUE(previewShows(255, 255, 0)) << "pressing 5 did not take the first slide";
    EXPECT_TRUE(displayShows(255, 255, 0));
    EXPECT_EQ(liveOn("media"), "slides 01.png");


    // Quit while on air: the window asks first.
    const auto before = state();
    x0close();
    auto ask = awaitPopup("Ombry");
    ASSERT_TRUE(ask) << "no question before quitting while on air";
    waitFor([] { return false; }, 0.5);  // painted, for the screenshot only
    save(shot0(), "15-quit-question");
    xdo("windowfocus --sync " + std::to_string(ask->id));
    pressKey("Tab space");  // "Quit"
    EXPECT_EQ(app->exitOf(pid, 30), 0);

    // Started again with the project: the show as it was.
    pid = app->start({project.string()});
    ASSERT_TRUE(waitFor([&] { return mainWindow().has_value() && clipNames().size() == before["clips"].size(); }, 30))
        << state().dump();
    const auto after = state();
    EXPECT_EQ(after["clips"].size(), before["clips"].size());
    for (std::size_t i = 0; i < after["clips"].size() && i < before["clips"].size(); ++i) {
        EXPECT_EQ(after["clips"][i].value("name", ""), before["clips"][i].value("name", ""))
            << "clip " << i << " after the restart";
        EXPECT_EQ(after["clips"][i].value("playlist", ""), before["clips"][i].value("playlist", ""))
            << "clip " << i << "'s playlist after the restart";
    }
    EXPECT_EQ(after["groups"], before["groups"]);
    EXPECT_TRUE(card(255, 0, 0) && card(0, 0, 255) && card(255, 0, 255) && card(255, 255, 0) && card(0, 255, 0))
        << "the board does not show the show's clips";
    // Its playback settings too: the video advances to the still by itself again.
    red = card(255, 0, 0);
    ASSERT_TRUE(red);
    click(*red);
    EXPECT_TRUE(previewShows(255, 0, 0));
    // From its start, as in the first run: nothing of the earlier run's playhead is kept.
    double restarted = -1;
    EXPECT_TRUE(waitFor([&] {
        restarted = mediaLayer("currentTime", -1);
        return liveOn("media") == "opener.mp4" && restarted >= 0.5 && restarted < 6;
    }, 15)) << "after the restart the video is not playing from its start: " << liveOn("media") << " at "
            << restarted << " s";
    EXPECT_TRUE(waitFor([&] { return liveOn("media") == "logo.png"; }, 30)) << "no advance after the restart";
    save(shot0(), "16-restarted");
}

}  // namespace
}  // namespace ombry
