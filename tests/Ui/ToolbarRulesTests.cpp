// The toolbar's rules as tables: the middle truncation of the project name, the picker's entries and the
// pills' texts, colours and the Bluetooth mark.
#include <gtest/gtest.h>

#include <QTextBoundaryFinder>

#include "Ui/Program/GlassMenuPicker.hpp"
#include "Ui/Program/PillRules.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Shell/ToolbarRules.hpp"

namespace ombry::ui {
namespace {

// Ten pixels a character, the ellipsis too: widths say how many characters fit.
qreal tenEach(const QString& s) { return 10.0 * s.size(); }

TEST(ToolbarRules, TheNameIsCutInTheMiddleKeepingMostCharactersWithFiftyEightPercentInFront) {
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    struct Case {
        QString name;
        qreal width;
        QString shown;
    };
    for (const Case& c : {
             Case{"Sunday Service", 140, "Sunday Service"},  // fits exactly
             Case{alphabet, 310, alphabet.left(17) + QChar(0x2026) + alphabet.right(13)},  // k = 30: 17 and 13
             Case{alphabet, 110, alphabet.left(5) + QChar(0x2026) + alphabet.right(5)},    // k = 10: 5 and 5
             Case{alphabet, 10, "AB" + QString(QChar(0x2026)) + "89"},  // four kept even when they do not fit
             Case{alphabet, 55, "AB" + QString(QChar(0x2026)) + "89"},
             Case{"ABCDE", 45, "AB" + QString(QChar(0x2026)) + "DE"},
             Case{"ABCD", 10, "ABCD"},  // cutting would only lengthen it
             Case{"", 0, ""},
         })
        EXPECT_EQ(toolbar::middleTruncated(c.name, c.width, tenEach), c.shown) << c.name.toStdString() << " in " << c.width;
    EXPECT_EQ(toolbar::frontCharacters(30), 17);
    EXPECT_EQ(toolbar::frontCharacters(10), 5);
    EXPECT_EQ(toolbar::frontCharacters(4), 2);
}

TEST(ToolbarRules, ReadersCharactersAreNeverCutInTwo) {
    // "é" as e and a combining accent, and a flag of two regional indicators: one character each.
    const QString accent = QStringLiteral("e\u0301");
    const QString flag = QStringLiteral("\U0001F1E9\U0001F1EA");
    QString name;
    for (int i = 0; i < 10; ++i) name += accent;
    name += QStringLiteral("middle");
    for (int i = 0; i < 10; ++i) name += flag;
    // Width counted in characters a reader sees, ten pixels each.
    auto perceived = [](const QString& s) {
        int n = 0;
        QTextBoundaryFinder f(QTextBoundaryFinder::Grapheme, s);
        for (qsizetype at = 0; at >= 0 && at < s.size(); at = f.toNextBoundary()) ++n;
        return 10.0 * n;
    };
    const QString shown = toolbar::middleTruncated(name, 110, perceived);  // 10 characters and the ellipsis
    EXPECT_EQ(shown, accent.repeated(5) + QChar(0x2026) + flag.repeated(5));
}

TEST(PickerRules, TheSelectionIsCheckedOnlyWhenItIsOffered) {
    const QStringList options{"1920x1080", "1280x720", "3840x2160", "2048x1080"};
    EXPECT_EQ(pickerEntries(options, "1280x720"),
              (std::vector<PickerEntry>{{"1920x1080", false}, {"1280x720", true}, {"3840x2160", false}, {"2048x1080", false}}));
    for (const auto& e : pickerEntries(options, "1000x1000")) EXPECT_FALSE(e.checked);
    EXPECT_TRUE(pickerEntries({}, "60p").empty());
}

TEST(PillRules, TheOutputPillNamesTheProgramStateAndWhatAClickDoes) {
    struct Case {
        OutputStatus status;
        const char* label;
        QColor tint, dot;
        const char* tooltip;
    };
    for (const Case& c : {Case{OutputStatus::live, "LIVE", theme::live(), Qt::white, "Cut to black"},
                          Case{OutputStatus::black, "BLACK", theme::black(), Qt::white, "Restore output"},
                          Case{OutputStatus::offline, "OFFLINE", QColor::fromRgbF(0.22f, 0.22f, 0.22f), theme::live(),
                               "Cut to black"}}) {
        const auto look = pills::outputPill(c.status);
        EXPECT_EQ(look.label, c.label);
        EXPECT_EQ(look.tint, c.tint) << c.label;
        EXPECT_EQ(look.dot, c.dot) << c.label;
        EXPECT_EQ(look.tooltip, c.tooltip);
    }
}

TEST(PillRules, ConnectionTextsCountRemotesAndTheirTransports) {
    EXPECT_EQ(pills::pillText("REMOTE", 0), "REMOTE");
    EXPECT_EQ(pills::pillText("REMOTE", 1), "REMOTE");
    EXPECT_EQ(pills::pillText("REMOTE", 3), QString("REMOTE \u00D73"));
    EXPECT_EQ(pills::pillText("COMPANION", 2), QString("COMPANION \u00D72"));
    struct Case {
        int total, wifi, ble;
        const char* tooltip;
    };
    for (const Case& c : {Case{1, 1, 0, "A remote is connected over Wi-Fi"},
                          Case{3, 2, 1, "3 remotes connected over Wi-Fi and Bluetooth"},
                          Case{1, 0, 0, "A remote is connected"}, Case{2, 0, 2, "2 remotes connected over Bluetooth"},
                          Case{0, 0, 0, "A remote is connected"}})
        EXPECT_EQ(pills::remoteTooltip(c.total, c.wifi, c.ble), c.tooltip);
    EXPECT_EQ(pills::companionTooltip(1), "Companion is connected");
    EXPECT_EQ(pills::companionTooltip(2), "2 Companion connections");
    EXPECT_EQ(pills::remoteCountText(1), "1 remote");
    EXPECT_EQ(pills::remoteCountText(2), "2 remotes");
    EXPECT_EQ(pills::companionCountText(1), "1 connection");
    EXPECT_EQ(pills::companionCountText(2), "2 connections");
    EXPECT_EQ(pills::companionCaption(7341),
              "Buttons and Stream Decks are controlling this machine via the control API on port 7341.");
    EXPECT_EQ(pills::companionCaption(std::nullopt),
              "Buttons and Stream Decks are controlling this machine via the control API.");
}

TEST(PillRules, TheBluetoothMarkIsOneOpenPathThroughSixPoints) {
    const QPainterPath path = pills::bluetoothRune(QRectF(10, 20, 8, 12));
    ASSERT_EQ(path.elementCount(), 6);
    const QPointF expected[] = {{10, 23}, {18, 29}, {14, 32}, {14, 20}, {18, 23}, {10, 29}};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(QPointF(path.elementAt(i)), expected[i]) << i;
    EXPECT_TRUE(path.elementAt(0).isMoveTo());
    EXPECT_NE(QPointF(path.elementAt(5)), QPointF(path.elementAt(0))) << "not closed";
}

}  // namespace
}  // namespace ombry::ui
