#pragma once
// The window layer's user defaults, typed: every key is read and written here only. `changed` follows every
// write made through this object, with the key that changed.
#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>
#include <string>

#include "Platform/Defaults.hpp"
#include "Ui/Shell/TileSize.hpp"

namespace ombry::ui {

class Preferences final : public QObject {
    Q_OBJECT
public:
    // Keys kept by the main window.
    static constexpr const char* tileSizeKey = "tileSize";
    static constexpr const char* windowFrameKey = "NSWindow Frame OmbryMainWindow";
    static constexpr const char* splitKey = "NSSplitView Subview Frames OmbryMainSplit";
    static constexpr const char* legacyFrameKey = "mainWindowFrame";
    static constexpr const char* legacySplitKey = "NSSplitView Subview Frames boardProgramSplit";
    // Kept by the settings window and the first-run sheet.
    static constexpr const char* receiveBetaUpdatesKey = "receiveBetaUpdates";
    static constexpr const char* hasSeenOnboardingKey = "hasSeenOnboarding";
    // Kept by the launch task and the updater.
    static constexpr const char* lastRunVersionKey = "lastRunVersion";
    static constexpr const char* lastUpdateNotesHTMLKey = "lastUpdateNotesHTML";
    static constexpr const char* lastUpdateNotesVersionKey = "lastUpdateNotesVersion";

    explicit Preferences(Defaults& defaults = standardDefaults(), QObject* parent = nullptr);
    // The process's preferences over the standard defaults (made on first use, GUI thread).
    static Preferences& shared();

    // Medium when missing or not exactly one of the three raw values.
    TileSize tileSize() const;
    void setTileSize(TileSize size);

    // False when missing or not a Boolean.
    bool receiveBetaUpdates() const;
    void setReceiveBetaUpdates(bool on);
    bool hasSeenOnboarding() const;
    void setHasSeenOnboarding(bool seen);

    // The main window's saved frame as text (mainwindow::frameText); none when absent.
    std::optional<std::string> windowFrameText() const;
    // The toolkit's own geometry, as earlier builds stored it.
    std::optional<QByteArray> windowGeometry() const;
    void setWindowFrameText(const std::string& text);
    std::optional<QByteArray> splitState() const;
    void setSplitState(const QByteArray& state);
    std::optional<std::string> legacyFrameText() const;
    void removeLegacyKeys();

    // Empty when absent.
    std::string lastRunVersion() const;
    void setLastRunVersion(const std::string& version);
    // The release notes of the last update found, and the version they belong to.
    std::optional<std::string> lastUpdateNotesHTML() const { return string(lastUpdateNotesHTMLKey); }
    std::optional<std::string> lastUpdateNotesVersion() const { return string(lastUpdateNotesVersionKey); }
    void setLastUpdateNotes(const std::string& html, const std::string& version);

    Defaults& defaults() const { return defaults_; }

signals:
    void changed(const QString& key);

private:
    void setString(const char* key, const std::string& value);
    std::optional<std::string> string(const char* key) const;
    Defaults& defaults_;
};

}  // namespace ombry::ui
