#pragma once
// The media storage pane: the space the managed media take, each managed file with who uses it (delete one
// or all after a confirmation), the clips whose files lie elsewhere (show, relink, remove), and the folder
// searched for offline media. The two lists and the total are snapshots, loaded when the pane comes into
// view and after each of its own actions.
#include <vector>

#include "App/MediaStorage.hpp"
#include "Ui/Settings/PaneForm.hpp"
#include "Ui/Shell/Columns.hpp"

class QPushButton;
class QVBoxLayout;

namespace ombry::ui {

class RefreshGate;

class MediaStorageView final : public PaneForm {
public:
    MediaStorageView(ViewContext& context, QWidget* parent = nullptr);

    void reload();
    const std::vector<DownloadedMediaFile>& downloaded() const { return downloaded_; }
    const std::vector<ReferencedMediaFile>& referenced() const { return referenced_; }
    std::int64_t totalBytes() const { return totalBytes_; }

    // The row actions (what the row buttons and menu items run).
    void askDelete(const DownloadedMediaFile& file);
    void askDeleteAll();
    void relink(const std::string& itemId);
    void askRemoveReference(const ReferencedMediaFile& ref);
    void pickRelinkFolder();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void rebuildLists();
    void refreshFolder();
    QStringList clipNamesHere(const std::vector<std::string>& ids) const;

    AppState& state_;
    DialogService& dialogs_;
    FileReveal* reveal_ = nullptr;
    RefreshGate* gate_ = nullptr;
    std::vector<DownloadedMediaFile> downloaded_;
    std::vector<ReferencedMediaFile> referenced_;
    std::int64_t totalBytes_ = 0;
    bool pendingDelete_ = false;
    bool pendingDeleteAll_ = false;

    QLabel* total_ = nullptr;
    QPushButton* deleteAll_ = nullptr;
    QVBoxLayout* downloadedRows_ = nullptr;
    QVBoxLayout* referencedRows_ = nullptr;
    QWidget* folderRow_ = nullptr;
    ElidedLabel* folderPath_ = nullptr;
    QPushButton* folderButton_ = nullptr;
};

}  // namespace ombry::ui
