#include "Ui/Bridge/Preferences.hpp"

namespace ombry::ui {

Preferences::Preferences(Defaults& defaults, QObject* parent) : QObject(parent), defaults_(defaults) {}

Preferences& Preferences::shared() {
    static Preferences* p = new Preferences(standardDefaults());
    return *p;
}

std::optional<std::string> Preferences::string(const char* key) const {
    auto v = defaults_.value(key);
    if (!v || !v->is_string()) return std::nullopt;
    return v->get<std::string>();
}

void Preferences::setString(const char* key, const std::string& value) {
    defaults_.set(key, value);
    emit changed(QString::fromUtf8(key));
}

std::string Preferences::lastRunVersion() const { return string(lastRunVersionKey).value_or(std::string()); }
void Preferences::setLastRunVersion(const std::string& version) { setString(lastRunVersionKey, version); }

// The notes first, then their version, as a found update stores them.
void Preferences::setLastUpdateNotes(const std::string& html, const std::string& version) {
    setString(lastUpdateNotesHTMLKey, html);
    setString(lastUpdateNotesVersionKey, version);
}

TileSize Preferences::tileSize() const {
    if (auto raw = string(tileSizeKey))
        if (auto size = tileSizeFromRaw(*raw)) return *size;
    return TileSize::medium;
}

void Preferences::setTileSize(TileSize size) { setString(tileSizeKey, std::string(rawValue(size))); }

bool Preferences::receiveBetaUpdates() const { return defaults_.boolValue(receiveBetaUpdatesKey); }

void Preferences::setReceiveBetaUpdates(bool on) {
    defaults_.set(receiveBetaUpdatesKey, on);
    emit changed(QString::fromUtf8(receiveBetaUpdatesKey));
}

bool Preferences::hasSeenOnboarding() const { return defaults_.boolValue(hasSeenOnboardingKey); }

void Preferences::setHasSeenOnboarding(bool seen) {
    defaults_.set(hasSeenOnboardingKey, seen);
    emit changed(QString::fromUtf8(hasSeenOnboardingKey));
}

std::optional<std::string> Preferences::windowFrameText() const { return string(windowFrameKey); }

std::optional<QByteArray> Preferences::windowGeometry() const {
    auto text = string(windowFrameKey);
    if (!text) return std::nullopt;
    return QByteArray::fromBase64(QByteArray::fromStdString(*text));
}

void Preferences::setWindowFrameText(const std::string& text) { setString(windowFrameKey, text); }

std::optional<QByteArray> Preferences::splitState() const {
    auto text = string(splitKey);
    if (!text) return std::nullopt;
    return QByteArray::fromBase64(QByteArray::fromStdString(*text));
}

void Preferences::setSplitState(const QByteArray& state) { setString(splitKey, state.toBase64().toStdString()); }

std::optional<std::string> Preferences::legacyFrameText() const { return string(legacyFrameKey); }

void Preferences::removeLegacyKeys() {
    for (const char* key : {legacyFrameKey, legacySplitKey}) {
        if (!defaults_.value(key)) continue;
        defaults_.remove(key);
        emit changed(QString::fromUtf8(key));
    }
}

}  // namespace ombry::ui
