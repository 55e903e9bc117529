#include "Ui/Shell/RootChromeView.hpp"

#include <QVBoxLayout>

#include "Engine/Intake/SlideImport.hpp"
#include "Engine/Update/UpdateFeed.hpp"
#include "Ui/Bridge/DialogService.hpp"
#include "Ui/Bridge/Preferences.hpp"
#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Bridge/WindowRegistry.hpp"
#include "Ui/Settings/SettingsView.hpp"
#include "Ui/Shell/ChromeRules.hpp"
#include "Ui/Shell/IssueBannerView.hpp"
#include "Ui/Shell/SlidesLinkSheet.hpp"
#include "Ui/Shell/UpdatedBanner.hpp"

namespace ombry::ui {

RootChromeView::OnboardingPresenter& RootChromeView::onboardingPresenter() {
    static OnboardingPresenter presenter;
    return presenter;
}

RootChromeView::RootChromeView(ViewContext& context, QWidget* parent, std::string runningVersion)
    : QWidget(parent), context_(context), runningVersion_(std::move(runningVersion)) {
    setObjectName(QStringLiteral("rootChrome"));
    banners_ = new QVBoxLayout(this);
    banners_->setContentsMargins(0, 0, 0, 0);
    banners_->setSpacing(8);
    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(context_.stateSignals, {Aspect::issues, Aspect::pendingDeletion, Aspect::imports});
}

SlidesLinkSheet* RootChromeView::slidesLinkSheet() const { return sheet_; }

void RootChromeView::refresh() {
    syncBanners();
    syncSheet();
    askNext();
}

std::vector<std::string> RootChromeView::bannerIds() const {
    std::vector<std::string> ids;
    for (int i = 0; i < banners_->count(); ++i)
        if (auto* b = qobject_cast<IssueBannerView*>(banners_->itemAt(i)->widget())) ids.push_back(b->issueId());
    return ids;
}

void RootChromeView::syncBanners() {
    const IssueLog& log = IssueLog::shared();
    const std::vector<Issue> visible = chrome::visibleIssues(log.recent(), log.dismissed());
    std::map<std::string, IssueBannerView*> kept;
    for (const Issue& issue : visible) {
        auto it = bannerById_.find(issue.id);
        IssueBannerView* banner = nullptr;
        if (it != bannerById_.end()) {
            banner = it->second;
            banner->setIssue(issue);
            bannerById_.erase(it);
        } else {
            IssueBannerView::Actions actions;
            actions.copy = [this](const std::string& text) { context_.state.copyPlainText(text); };
            actions.contactSupport = [this] { contactSupport(); };
            actions.dismiss = [](const std::string& id) {
                for (const Issue& i : IssueLog::shared().recent())
                    if (i.id == id) return IssueLog::shared().dismiss(i);
            };
            banner = new IssueBannerView(issue, std::move(actions), this);
        }
        kept[issue.id] = banner;
    }
    for (auto& [id, gone] : bannerById_) gone->deleteLater();
    bannerById_ = std::move(kept);
    // Newest on top, the updated banner below them.
    while (banners_->count() > 0) banners_->takeAt(0);
    for (const Issue& issue : visible) {
        IssueBannerView* b = bannerById_[issue.id];
        banners_->addWidget(b);
        b->show();
    }
    if (updatedBanner_) banners_->addWidget(updatedBanner_, 0, Qt::AlignHCenter);
    placeBanners();
}

void RootChromeView::placeBanners() {
    const bool any = banners_->count() > 0;
    // Banners are at most 720 wide, centred over the window.
    const int side = std::max(12, (width() - 720) / 2);
    banners_->setContentsMargins(side, any ? 8 : 0, side, any ? 8 : 0);
}

void RootChromeView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeBanners();
}

void RootChromeView::contactSupport() {
    openSettings(context_.windows, context_.state, SettingsSection::general);
}

void RootChromeView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (launched_) return;
    launched_ = true;
    QMetaObject::invokeMethod(this, [this] { runLaunchTask(); }, Qt::QueuedConnection);
}

void RootChromeView::runLaunchTask() {
    Preferences& prefs = context_.preferences;
    const chrome::LaunchOutcome o = chrome::launchOutcome(prefs.hasSeenOnboarding(), prefs.lastRunVersion(), runningVersion_);
    if (o.showOnboarding && onboardingPresenter()) {
        showOnboarding_ = true;
        QPointer<RootChromeView> self(this);
        onboardingPresenter()(context_, QWidget::window(), [self, &prefs] {
            if (self) self->showOnboarding_ = false;
            prefs.setHasSeenOnboarding(true);
        });
    }
    if (o.updatedTo) {
        updatedTo_ = o.updatedTo;
        auto notes = UpdateNotes::document(prefs.lastUpdateNotesVersion(), prefs.lastUpdateNotesHTML(), *o.updatedTo);
        updatedBanner_ = new UpdatedBanner(*o.updatedTo, std::move(notes), [this] {
            updatedTo_.reset();
            // Leaves through the next turn: this runs inside the banner's own button.
            if (updatedBanner_) updatedBanner_->deleteLater();
            updatedBanner_ = nullptr;
            syncBanners();
        }, this);
        syncBanners();
    }
    prefs.setLastRunVersion(o.storeLastRunVersion);
}

void RootChromeView::syncSheet() {
    AppState& s = context_.state;
    if (s.slidesLinkSheetOpen() && !sheet_) {
        sheet_ = new SlidesLinkSheet(s, QWidget::window());
        connect(sheet_, &QDialog::finished, this, [this, sheet = sheet_] {
            // Each opening shows a new sheet, even before this one is deleted.
            if (sheet_ == sheet) sheet_ = nullptr;
            if (sheet) sheet->deleteLater();
            context_.state.setSlidesLinkSheetOpen(false);
        });
        sheet_->open();
    } else if (!s.slidesLinkSheetOpen() && sheet_ && sheet_->isVisible()) {
        sheet_->reject();
    }
}

// One question at a time, in this order; each answer goes to the state and clears what it answered.
void RootChromeView::askNext() {
    if (asking_) return;
    AppState& s = context_.state;
    QPointer<RootChromeView> self(this);
    auto answered = [self] {
        if (!self) return;
        self->asking_ = false;
        self->gate_->poke();
    };
    QWidget* parent = QWidget::window();

    if (s.pendingDeletion) {
        const PendingDeletion asked = *s.pendingDeletion;
        asking_ = true;
        context_.dialogs.ask(parent, chrome::deletionQuestion(asked, s.deletionTitle(asked)),
                             [&s, asked, answered](int button) {
                                 // A deletion that replaced the one asked about is asked about in turn.
                                 if (s.pendingDeletion == asked) {
                                     if (chrome::deletionAnswer(button) == chrome::DeletionAnswer::remove) {
                                         if (asked.kind == PendingDeletion::Kind::clips)
                                             s.removeFromLibrary({asked.ids.begin(), asked.ids.end()});
                                         else
                                             for (const std::string& id : asked.ids) s.deleteGroup(id);
                                     }
                                     s.pendingDeletion.reset();
                                     s.notify(Aspect::pendingDeletion);
                                 }
                                 answered();
                             });
        return;
    }
    if (!s.pendingDeckImports().empty()) {
        const PendingDeckImport deck = s.pendingDeckImports().front();
        asking_ = true;
        context_.dialogs.ask(parent, chrome::deckQuestion(deck), [&s, deck, answered](int button) {
            auto& queue = s.pendingDeckImports();
            std::erase_if(queue, [&](const PendingDeckImport& d) { return d.id == deck.id; });
            s.notify(Aspect::imports);
            switch (chrome::deckAnswer(button)) {
            case chrome::DeckAnswer::addToPlaylist:
                s.importDeck(deck.pdf, SlideImport::deckName(deck.pdf), deck.playlistId, false);
                break;
            case chrome::DeckAnswer::newPlaylist:
                s.importDeck(deck.pdf, SlideImport::deckName(deck.pdf), std::nullopt, false);
                break;
            case chrome::DeckAnswer::cancel: break;
            }
            answered();
        });
        return;
    }
    if (!s.pendingSequenceImports().empty()) {
        const PendingSequenceImport pending = s.pendingSequenceImports().front();
        asking_ = true;
        context_.dialogs.ask(parent, chrome::sequenceImportDialog(pending), [&s, pending, answered](int button) {
            auto& queue = s.pendingSequenceImports();
            std::erase_if(queue, [&](const PendingSequenceImport& p) { return p.id == pending.id; });
            s.notify(Aspect::imports);
            switch (chrome::sequenceAnswer(button)) {
            case chrome::SequenceAnswer::oneClip:
                if (!pending.frames.empty()) s.importSequence(pending.frames, pending.name, pending.playlistId, pending.fps);
                break;
            case chrome::SequenceAnswer::images:
                s.addMedia(pending.frames, pending.playlistId, true, false);
                break;
            case chrome::SequenceAnswer::cancel: break;
            }
            answered();
        });
        return;
    }
    // An alert replaced while it was shown is shown again with the new text.
    using Current = const std::optional<std::string>& (AppState::*)() const;
    auto alert = [&](Current current, DialogRequest (*request)(const std::string&), void (AppState::*clear)()) {
        const std::optional<std::string> text = (s.*current)();
        if (!text) return false;
        asking_ = true;
        context_.dialogs.ask(parent, request(*text), [&s, text, current, clear, answered](int) {
            if ((s.*current)() == text) (s.*clear)();
            answered();
        });
        return true;
    };
    if (alert(&AppState::unsupportedFilePrompt, chrome::unsupportedFileAlert, &AppState::clearUnsupportedFilePrompt)) return;
    alert(&AppState::capacityAlert, chrome::capacityAlert, &AppState::clearCapacityAlert);
}

}  // namespace ombry::ui
