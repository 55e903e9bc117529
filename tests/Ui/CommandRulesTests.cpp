// The menu bar's rules as tables: the volume step, the show menus' enabling, the recent items and how each
// key reaches its command.
#include <gtest/gtest.h>

#include "Ui/Shell/CommandRules.hpp"
#include "Ui/Shell/ShowKeys.hpp"

namespace ombry::ui {
namespace {

using namespace commands;

TEST(CommandRules, VolumeStepsStayWithinTheFaderRange) {
    struct Case {
        double from, step, to;
    };
    for (const Case& c : {Case{0, 3, 3}, Case{4.5, 3, 6}, Case{6, 3, 6}, Case{-58.5, -3, -60}, Case{-60, -3, -60},
                          Case{-61, 3, -58}, Case{10, -3, 6}})
        EXPECT_DOUBLE_EQ(steppedVolume(c.from, c.step), c.to) << c.from << " by " << c.step;
}

TEST(CommandRules, ShowMenusNeedTheKeyWindowAndNoTextEditing) {
    EXPECT_TRUE(showMenusEnabled(false, true));
    EXPECT_FALSE(showMenusEnabled(true, true));
    EXPECT_FALSE(showMenusEnabled(false, false));
    EXPECT_FALSE(showMenusEnabled(true, false));
}

TEST(CommandRules, RecentItemsKeepTheStoredOrderWithNamesAsPlainText) {
    EXPECT_TRUE(recentItems(RecentsStore{}).empty());
    RecentsStore store;
    store.recents = {{"b", "Rock & Roll", "/p/b.ombry", 2}, {"a", "Show", "/p/a.ombry", 1}};
    const auto items = recentItems(store);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].id, "b");
    EXPECT_EQ(items[0].title, "Rock && Roll");
    EXPECT_EQ(items[0].path, "/p/b.ombry");
    EXPECT_EQ(items[1].title, "Show");
}

// One path per key: a plain key is one the show-key filter takes, shown in the title and never a shortcut of
// its own; a chord is the action's shortcut and never a show key.
TEST(CommandRules, EveryKeyReachesItsCommandOneWay) {
    for (const CommandEntry& s : table()) {
        SCOPED_TRACE(s.title);
        if (s.path == KeyPath::none) {
            EXPECT_TRUE(s.key.isEmpty());
            continue;
        }
        ASSERT_EQ(s.key.count(), 1);
        const QKeyCombination k = s.key[0];
        if (s.path == KeyPath::showKeys) {
            EXPECT_EQ(k.keyboardModifiers(), Qt::NoModifier);
            EXPECT_TRUE(showKey(k.key()).has_value());
            EXPECT_TRUE(displayText(s).endsWith(QLatin1Char('\t') + s.key.toString(QKeySequence::NativeText)));
            EXPECT_TRUE(s.menu == Menu::playback || s.menu == Menu::program);
        } else {
            EXPECT_TRUE(k.keyboardModifiers() & Qt::ControlModifier);
            EXPECT_EQ(displayText(s), QString::fromUtf8(s.title));
        }
    }
    EXPECT_EQ(displayText(entry(Command::playPause)), QString("Play / Pause\tSpace"));
    EXPECT_EQ(displayText(entry(Command::previousClip)), QString("Previous Clip\tLeft"));
}

}  // namespace
}  // namespace ombry::ui
