// The sidebar's texts and rules as tables, without a widget.
#include <gtest/gtest.h>

#include "Ui/Sidebar/SidebarRules.hpp"

namespace ombry::ui {
namespace {

using namespace sidebar_rules;

std::string str(const QString& s) { return s.toStdString(); }

TEST(SidebarRules, AllPlaylistsSubtitleIsAlwaysPlural) {
    struct Case {
        std::size_t playlists, media;
        const char* want;
    } cases[] = {
        {0, 0, "0 playlists \u00B7 0 media"},
        {1, 1, "1 playlists \u00B7 1 media"},
        {3, 40, "3 playlists \u00B7 40 media"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(str(allPlaylistsSubtitle(c.playlists, c.media)), c.want);
        const PlaylistRowData row = allPlaylistsRow(c.playlists, c.media);
        EXPECT_EQ(str(row.name), "All Playlists");
        EXPECT_EQ(row.symbol, "square.stack");
    }
}

TEST(SidebarRules, PlaylistRowsCountTheirClipsAndFallBackToGreyAndTheBulletList) {
    struct Case {
        std::size_t clips;
        std::optional<std::string> color, icon;
        const char* subtitle;
        QColor tint;
        const char* symbol;
    } cases[] = {
        {0, "#ff0000", "film", "0 items", QColor(255, 0, 0), "film"},
        {1, "#00FF80", std::nullopt, "1 item", QColor(0, 255, 128), "list.bullet"},
        {2, std::nullopt, "star", "2 items", fallbackTint(), "star"},
        {5, "#abcd", std::nullopt, "5 items", fallbackTint(), "list.bullet"},   // four digits
        {5, "#gg0000", std::nullopt, "5 items", fallbackTint(), "list.bullet"}, // not hexadecimal
        {5, "ff0000", std::nullopt, "5 items", fallbackTint(), "list.bullet"},  // no number sign
    };
    for (const auto& c : cases) {
        Group g;
        g.id = "g";
        g.name = "Walk-in";
        g.mediaIds.assign(c.clips, "m");
        g.color = c.color;
        g.icon = c.icon;
        g.emoji = "🎬";  // never shown here
        const PlaylistRowData row = playlistRow(g);
        EXPECT_EQ(str(row.name), "Walk-in");
        EXPECT_EQ(str(row.subtitle), c.subtitle);
        EXPECT_EQ(row.tint, c.tint) << c.color.value_or("none");
        EXPECT_EQ(row.symbol, c.symbol);
    }
}

std::vector<std::string> titles(const std::vector<MenuEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back((e.dividerBefore ? "--" : "") + str(e.title) + (e.destructive ? "!" : ""));
    return out;
}

TEST(SidebarRules, TheMenuHasAGroupFormOnlyForARowSelectedAmongSeveral) {
    using V = std::vector<std::string>;
    const V group{"Merge 3 Playlists", "Duplicate 3 Playlists", "Copy 3 Playlists", "Paste Playlist",
                  "--Delete 3 Playlists!"};
    const V single{"Edit Playlist\u2026", "Duplicate Playlist", "Save Playlist to Library", "Copy Playlist",
                   "Paste Playlist", "--Delete Playlist!"};
    struct Case {
        V selected;  // selectedPlaylistIds: empty while "All Playlists" is part of the selection
        std::string clicked;
        V menu;
        V targets;
    } cases[] = {
        {{"a", "b", "c"}, "b", group, {"a", "b", "c"}},
        {{"a", "b", "c"}, "d", single, {"d"}},
        {{"b"}, "b", single, {"b"}},
        {{}, "b", single, {"b"}},
        {{"a", "b"}, "a", {"Merge 2 Playlists", "Duplicate 2 Playlists", "Copy 2 Playlists", "Paste Playlist",
                           "--Delete 2 Playlists!"}, {"a", "b"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(titles(playlistMenu(c.selected, c.clicked)), c.menu) << c.clicked;
        EXPECT_EQ(commandTargets(c.selected, c.clicked), c.targets) << c.clicked;
    }
}

TEST(SidebarRules, DropOffsetsCountPlaylistRowsOnly) {
    struct Case {
        int row;
        std::size_t playlists, want;
    } cases[] = {
        {0, 3, 0},   // above "All Playlists": the top
        {1, 3, 0},   // between "All Playlists" and the first playlist
        {3, 3, 2},
        {4, 3, 3},   // after the last
        {-1, 3, 3},  // on empty space below the rows
        {9, 3, 3},
    };
    for (const auto& c : cases) EXPECT_EQ(dropOffset(c.row, c.playlists), c.want) << c.row;
}

TEST(SidebarRules, OutputRowTexts) {
    ServerInfo server;
    server.port = 7340;
    server.outputUrl = "http://localhost:7340/";
    DisplayOutputManager::DisplayInfo primary{1, "Built-in", 1920, 1080, true};
    DisplayOutputManager::DisplayInfo second{2, "Projector", 3840, 2160, false};
    AppSettings monitorOn = AppSettings::defaults();
    monitorOn.audioMonitorEnabled = true;
    struct Case {
        OutputRowData row;
        OutputRowData want;
    } cases[] = {
        {browserSourceRow(std::nullopt, 0), {false, "OBS \u2014 Browser Source", "starting\u2026", "OFF"}},
        {browserSourceRow(server, 0), {false, "OBS \u2014 Browser Source", "http://localhost:7340/", "OFF"}},
        {browserSourceRow(server, 2), {true, "OBS \u2014 Browser Source", "http://localhost:7340/", "LINK"}},
        {syphonRow(false), {false, "Syphon \u2014 Program", "Ombry \u2013 Program", "OFF"}},
        {syphonRow(true), {true, "Syphon \u2014 Program", "Ombry \u2013 Program", "ON"}},
        {ndiRow(true), {true, "NDI \u2014 Program", "Ombry - Program", "ON"}},
        {ndiRow(false), {false, "NDI \u2014 Program", "Ombry - Program", "OFF"}},
        {displayRow(primary, false), {false, "Built-in", "1920\u00D71080 \u00B7 primary", "OFF"}},
        {displayRow(second, true), {true, "Projector", "3840\u00D72160", "ON"}},
        {audioMonitorRow(AppSettings::defaults(), {}), {false, "Audio Monitor", "System default", "OFF"}},
        {audioMonitorRow(monitorOn, {}), {true, "Audio Monitor", "System default", "ON"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.row, c.want) << str(c.row.name) << " | " << str(c.row.detail) << " | " << str(c.row.label);
        EXPECT_EQ(str(accessibleValue(c.row.on)), c.row.on ? "Connected" : "Off");
    }
}

TEST(SidebarRules, MonitorDetailAndDeviceChoices) {
    const std::vector<AudioOutputDevice> devices{{"alsa_output.usb", "USB Headset"}, {"null", "Null Output"}};
    using Choices = std::vector<DeviceChoice>;
    const DeviceChoice def{"System Default", ""};
    struct Case {
        std::vector<AudioOutputDevice> devices;
        std::optional<std::string> saved;
        const char* detail;
        Choices choices;
    } cases[] = {
        {devices, std::nullopt, "System default", {def, {"USB Headset", "alsa_output.usb"}, {"Null Output", "null"}}},
        {devices, "null", "Null Output", {def, {"USB Headset", "alsa_output.usb"}, {"Null Output", "null"}}},
        {devices, "gone", "Unavailable device",
         {def, {"USB Headset", "alsa_output.usb"}, {"Null Output", "null"}, {"Unavailable device", "gone"}}},
        {{}, std::nullopt, "System default", {def}},
        {{}, "gone", "Unavailable device", {def, {"Unavailable device", "gone"}}},
        {devices, "NULL", "Unavailable device",  // uids compare exactly
         {def, {"USB Headset", "alsa_output.usb"}, {"Null Output", "null"}, {"Unavailable device", "NULL"}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(str(monitorDetail(c.saved, c.devices)), c.detail);
        EXPECT_EQ(monitorChoices(c.devices, c.saved), c.choices) << c.saved.value_or("none");
    }
    EXPECT_EQ(storedDevice(""), std::nullopt);
    EXPECT_EQ(storedDevice("null"), std::optional<std::string>("null"));
}

TEST(SidebarRules, AClosedBlockedDisplayShowsWhyAndAnOpenOneAlwaysCloses) {
    struct Case {
        bool open;
        std::optional<DisplayBlockReason> reason;
        DisplayClick want;
    } cases[] = {
        {false, std::nullopt, DisplayClick::toggle},
        {false, DisplayBlockReason::primary, DisplayClick::showBlockedTip},
        {false, DisplayBlockReason::controller, DisplayClick::showBlockedTip},
        {true, DisplayBlockReason::primary, DisplayClick::toggle},
        {true, std::nullopt, DisplayClick::toggle},
    };
    for (const auto& c : cases) EXPECT_EQ(displayClick(c.open, c.reason), c.want);
}

TEST(SidebarRules, BlockedDisplaySentence) {
    struct Case {
        DisplayBlockReason reason;
        const char* name;
        const char* want;
    } cases[] = {
        {DisplayBlockReason::primary, "Projector",
         "\u201CProjector\u201D is your primary display. Output there is off by default so it can't cover your desktop."},
        {DisplayBlockReason::controller, "Side Screen",
         "\u201CSide Screen\u201D is the display Ombry is running on. Output there is off by default so it can't cover "
         "the operator window."},
        {DisplayBlockReason::primary, "",
         "\u201C\u201D is your primary display. Output there is off by default so it can't cover your desktop."},
        {DisplayBlockReason::primary, "Dell \"U27\" <b>",
         "\u201CDell \"U27\" <b>\u201D is your primary display. Output there is off by default so it can't cover your "
         "desktop."},
    };
    for (const auto& c : cases) EXPECT_EQ(str(blockedMessage(c.reason, QString::fromUtf8(c.name))), c.want);
}

TEST(SidebarRules, BrowserSourceTipTexts) {
    EXPECT_EQ(str(obsStep(1)), "In OBS: Sources \u2192 + \u2192 Browser.");
    EXPECT_EQ(str(obsStep(2)), "Paste the URL below as the browser source URL.");
    EXPECT_EQ(str(obsStep(3)), "Set Width/Height/FPS to match the stage (e.g. 1920\u00D71080 @ 60).");
    EXPECT_EQ(str(obsStep(4)), "Enable \u201CControl audio via OBS\u201D on the source for clean audio.");
    EXPECT_EQ(str(obsCodecNote()),
              "Browser sources only decode H.264, HEVC, VP9 and AV1. A ProRes or DNxHD clip will be blank here \u2014 "
              "use the Syphon or NDI output for those, or re-export as H.264.");
    EXPECT_EQ(str(obsAddress(std::nullopt)), "starting\u2026");
}

}  // namespace
}  // namespace ombry::ui
