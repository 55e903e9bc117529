#include "Ui/Shell/UpdaterController.hpp"

#include <QPointer>

#include "Platform/ResourcePaths.hpp"
#include "Platform/Version.hpp"
#include "Ui/Bridge/DialogService.hpp"
#include "Ui/Bridge/Preferences.hpp"

namespace ombry::ui {

UpdaterController::Config UpdaterController::installed() {
    Config c;
    const auto root = paths::resourceRoot();
    if (!root.empty()) c.feedURL = UpdateFeed::feedURL(root / "app-info.json");
    c.currentVersion = version::shortVersion;
    return c;
}

UpdaterController::UpdaterController(Preferences& preferences, DialogService& dialogs, Config config,
                                     std::function<QWidget*()> dialogParent, QObject* parent)
    : UpdateControls(parent),
      preferences_(preferences),
      dialogs_(dialogs),
      config_(std::move(config)),
      dialogParent_(std::move(dialogParent)),
      canCheck_(!config_.feedURL.empty()) {}

UpdaterController::~UpdaterController() {
    stop_ = true;
    // Joined before the object goes, so no answer is posted to it afterwards.
    if (worker_.joinable()) worker_.join();
}

std::set<std::string> UpdaterController::allowedChannels() const {
    return UpdateFeed::allowedChannels(preferences_.receiveBetaUpdates());
}

void UpdaterController::setCanCheck(bool can) {
    if (can == canCheck_) return;
    canCheck_ = can;
    emit canCheckForUpdatesChanged(can);
    emit changed();
}

void UpdaterController::checkForUpdates() {
    if (!canCheck_) return;
    setCanCheck(false);
    if (worker_.joinable()) worker_.join();  // the last check's thread, already done
    worker_ = std::thread([this, url = config_.feedURL] {
        Fetched fetched = UpdateFeed::fetch(url, &stop_);
        QMetaObject::invokeMethod(this, [this, fetched = std::move(fetched)] { finish(fetched); }, Qt::QueuedConnection);
    });
}

void UpdaterController::finish(const Fetched& fetched) {
    DialogRequest r;
    r.style = DialogRequest::Style::information;
    r.buttons = {QStringLiteral("OK")};
    r.cancel = 0;
    const QString current = QString::fromStdString(config_.currentVersion);
    std::optional<UpdateItem> found;
    std::optional<std::string> failure;
    if (fetched.index() == 1) {
        failure = std::get<1>(fetched);
    } else {
        auto parsed = UpdateFeed::parse(std::get<0>(fetched));
        if (auto* error = std::get_if<std::string>(&parsed))
            failure = *error;
        else
            found = UpdateFeed::newest(std::get<std::vector<UpdateItem>>(parsed), config_.currentVersion, allowedChannels());
    }
    if (failure) {
        r.style = DialogRequest::Style::warning;
        r.message = QStringLiteral("Ombry couldn't check for updates");
        QString why = QString::fromStdString(*failure);
        if (!why.isEmpty() && !why.endsWith(QLatin1Char('.'))) why += QLatin1Char('.');
        if (!why.isEmpty()) why[0] = why[0].toUpper();
        r.informative = why;
    } else if (found) {
        didFindValidUpdate(*found);
        r.message = QStringLiteral("Ombry %1 is available").arg(QString::fromStdString(found->version));
        r.informative = QStringLiteral("You have %1. Install the new version with your package manager, then start "
                                       "Ombry again.")
                            .arg(current);
    } else {
        r.message = QStringLiteral("You're up to date");
        r.informative = QStringLiteral("Ombry %1 is the newest version available.").arg(current);
    }
    QPointer<UpdaterController> self(this);
    dialogs_.ask(dialogParent_ ? dialogParent_() : nullptr, r, [self](int) {
        if (!self) return;
        self->setCanCheck(true);
        emit self->checkFinished();
    });
}

// Notes stored for an earlier update stay when this one carries none.
void UpdaterController::didFindValidUpdate(const UpdateItem& item) {
    if (item.notesHTML) preferences_.setLastUpdateNotes(*item.notesHTML, item.version);
}

}  // namespace ombry::ui
