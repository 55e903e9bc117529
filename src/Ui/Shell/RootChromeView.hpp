#pragma once
// The window's chrome over the columns: up to three issue banners (newest on top) and the updated banner,
// and every question the state raises, asked one at a time through the DialogService and answered through
// the state (deletions, slide decks, image sequences, unsupported files, the project's item limit), plus
// the slides link sheet and the first-run onboarding. Its launch task runs when it is first shown.
#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "Platform/Version.hpp"
#include "Ui/Shell/Columns.hpp"

class QVBoxLayout;

namespace ombry::ui {

class IssueBannerView;
class RefreshGate;
class SlidesLinkSheet;
class UpdatedBanner;

class RootChromeView final : public QWidget {
    Q_OBJECT
public:
    // Shows the onboarding sheet over the window and calls `dismissed` once when it closes in any way. None
    // (the default) shows nothing, and the first run stays unseen.
    using OnboardingPresenter = std::function<void(ViewContext& context, QWidget* window, std::function<void()> dismissed)>;
    static OnboardingPresenter& onboardingPresenter();

    RootChromeView(ViewContext& context, QWidget* parent = nullptr, std::string runningVersion = version::shortVersion);
    void refresh();

    // "Email Support": the settings window on its General pane (the feedback form).
    void contactSupport();
    bool showsOnboarding() const { return showOnboarding_; }
    const std::optional<std::string>& updatedToVersion() const { return updatedTo_; }
    UpdatedBanner* updatedBanner() const { return updatedBanner_; }
    SlidesLinkSheet* slidesLinkSheet() const;
    // The issue ids of the banners shown, top first.
    std::vector<std::string> bannerIds() const;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void runLaunchTask();
    void syncBanners();
    void syncSheet();
    void askNext();
    void placeBanners();

    ViewContext& context_;
    std::string runningVersion_;
    RefreshGate* gate_ = nullptr;
    QVBoxLayout* banners_ = nullptr;
    std::map<std::string, IssueBannerView*> bannerById_;
    UpdatedBanner* updatedBanner_ = nullptr;
    QPointer<SlidesLinkSheet> sheet_;
    bool launched_ = false;
    bool showOnboarding_ = false;
    std::optional<std::string> updatedTo_;
    // A question is open; the next waits until it is answered.
    bool asking_ = false;
};

}  // namespace ombry::ui
