#pragma once
// The media storage pane: the space the managed media take, each managed file with who uses it (delete one
// or all after a confirmation), the clips whose files lie elsewhere (show, relink, remove), and the folder
// searched for offline media. The two lists and the total are snapshots, loaded each time the window shows
// the pane and after each of the pane's own actions.
#include <QWidget>

#include <vector>

#include "App/MediaStorage.hpp"
#include "Ui/Settings/SettingsView.hpp"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace ombry::ui {

class ElidedLabel;
class SettingsForm;
class SettingsGroup;

class MediaStorageView final : public QWidget, public SettingsPaneHooks {
    Q_OBJECT
public:
    MediaStorageView(SettingsContext& context, QWidget* parent = nullptr);
    void paneAppeared() override { reload(); }

    void reload();
    const std::vector<DownloadedMediaFile>& downloaded() const { return downloaded_; }
    const std::vector<ReferencedMediaFile>& referenced() const { return referenced_; }
    SettingsGroup* downloadedSection() const { return downloadedGroup_; }
    SettingsGroup* referencedSection() const { return referencedGroup_; }

    // What the row buttons and menu items run.
    void askDelete(const DownloadedMediaFile& file);
    void askDeleteAll();
    void relink(const std::string& itemId);
    void askRemoveReference(const ReferencedMediaFile& ref);
    void pickRelinkFolder();

private:
    void rebuildLists();
    void refreshFolder();
    QStringList clipNamesHere(const std::vector<std::string>& ids) const;

    SettingsContext context_;
    AppState& state_;
    RefreshGate* gate_ = nullptr;
    std::vector<DownloadedMediaFile> downloaded_;
    std::vector<ReferencedMediaFile> referenced_;
    std::int64_t totalBytes_ = 0;
    bool pending_ = false;

    SettingsForm* form_ = nullptr;
    SettingsGroup* downloadedGroup_ = nullptr;
    SettingsGroup* referencedGroup_ = nullptr;
    QLabel* total_ = nullptr;
    QPushButton* deleteAll_ = nullptr;
    QVBoxLayout* downloadedRows_ = nullptr;
    QVBoxLayout* referencedRows_ = nullptr;
    QWidget* folderRow_ = nullptr;
    ElidedLabel* folderPath_ = nullptr;
    QPushButton* folderButton_ = nullptr;
};

}  // namespace ombry::ui
