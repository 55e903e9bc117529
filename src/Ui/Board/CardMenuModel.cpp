#include "Ui/Board/CardMenuModel.hpp"

#include <QActionGroup>
#include <QMenu>

namespace ombry::ui {

namespace {

using Entry = CardMenuEntry;

Entry action(std::string key, QString title, std::function<void()> run, bool enabled = true) {
    Entry e;
    e.key = std::move(key);
    e.title = std::move(title);
    e.run = std::move(run);
    e.enabled = enabled;
    return e;
}
Entry separator() {
    Entry e;
    e.kind = Entry::Kind::separator;
    return e;
}
Entry row(std::string key, QString title, bool checked, std::function<void()> run) {
    Entry e = action(std::move(key), std::move(title), std::move(run));
    e.checkable = true;
    e.checked = checked;
    return e;
}
Entry submenu(std::string key, QString title, std::vector<Entry> children) {
    Entry e;
    e.kind = Entry::Kind::submenu;
    e.key = std::move(key);
    e.title = std::move(title);
    e.children = std::move(children);
    return e;
}

}  // namespace

QString countedTitle(const char* one, const char* many, std::size_t n) {
    if (n < 2) return QString::fromUtf8(one);
    return QString::fromUtf8(many).replace(QStringLiteral("%lld"), QString::number(qulonglong(n)));
}

std::vector<CardMenuEntry> cardMenu(AppState& state, const MediaItem& clip,
                                    const std::optional<std::string>& sectionGroupId, const CardMenuActions& actions) {
    AppState* s = &state;
    const std::string id = clip.id;
    const std::vector<std::string> targets = state.contextTargets(id);
    const std::size_t n = targets.size();
    const bool offline = state.library.offlineIds().count(id) > 0;
    bool live = false;
    for (LayerId l : {LayerId::background, LayerId::media, LayerId::overlay, LayerId::audio})
        if (const auto& a = state.program.state().layers[l].active; a && a->mediaId == id) live = true;
    const bool audio = clip.kind == MediaKind::audio;

    std::vector<Entry> menu;
    menu.push_back(action(
        "takeLive", live ? QStringLiteral("Take Off Air") : QStringLiteral("Take Live"),
        [s, id] {
            if (const MediaItem* m = s->library.item(id)) {
                const MediaItem copy = *m;
                s->trigger(copy, false);
            }
        },
        !offline));
    menu.push_back(action("properties", QStringLiteral("Properties"), [s, id, open = actions.openProperties] {
        s->setSelectedItemId(id);
        if (open) open();
    }));
    menu.push_back(separator());

    // Transition: "Fade" stands for fade and crossfade and stores crossfade.
    {
        std::vector<Entry> rows;
        auto set = [s, targets](std::optional<TransitionType> t) {
            return [s, targets, t] {
                for (const auto& target : targets) s->library.setMeta(target, [t](MediaItem& m) { m.transitionType = t; });
            };
        };
        const auto current = clip.transitionType;
        rows.push_back(row("transition.default", QStringLiteral("Default"), !current, set(std::nullopt)));
        rows.push_back(row("transition.cut", QStringLiteral("Cut"), current == TransitionType::cut, set(TransitionType::cut)));
        rows.push_back(row("transition.fade", QStringLiteral("Fade"),
                           current == TransitionType::fade || current == TransitionType::crossfade,
                           set(TransitionType::crossfade)));
        if (!audio) {
            rows.push_back(row("transition.slide", QStringLiteral("Slide"), current == TransitionType::slide,
                               set(TransitionType::slide)));
            rows.push_back(row("transition.zoom", QStringLiteral("Zoom"), current == TransitionType::zoom,
                               set(TransitionType::zoom)));
        }
        menu.push_back(submenu("transition", QStringLiteral("Transition"), std::move(rows)));
    }
    if (!audio) {
        std::vector<Entry> rows;
        auto set = [s, targets](std::optional<LayerId> l) { return [s, targets, l] { s->setItemLayer(targets, l); }; };
        rows.push_back(row("layer.auto", QStringLiteral("Auto"), !clip.layer, set(std::nullopt)));
        const std::pair<LayerId, const char*> layers[] = {
            {LayerId::background, "Background"}, {LayerId::media, "Media"}, {LayerId::overlay, "Overlay"}};
        for (const auto& [l, name] : layers)
            rows.push_back(row(std::string("layer.") + name, QString::fromLatin1(name), clip.layer == l, set(l)));
        menu.push_back(submenu("layer", QStringLiteral("Layer"), std::move(rows)));
    }
    {
        const EndAction current = clip.endAction.value_or(clip.loop.value_or(false) ? EndAction::loop : EndAction::hold);
        std::vector<Entry> rows;
        const std::pair<EndAction, const char*> ends[] = {
            {EndAction::hold, "Hold"}, {EndAction::clear, "Clear"}, {EndAction::loop, "Loop"}};
        for (const auto& [e, name] : ends)
            rows.push_back(row(std::string("end.") + name, QString::fromLatin1(name), current == e, [s, targets, e = e] {
                for (const auto& target : targets)
                    s->library.setMeta(target, [e](MediaItem& m) {
                        m.endAction = e;
                        m.loop = e == EndAction::loop;
                    });
            }));
        menu.push_back(submenu("onEnd", QStringLiteral("On end"), std::move(rows)));
    }
    if (!audio) {
        const FillMode current = clip.fillMode.value_or(FillMode::fit);
        std::vector<Entry> rows;
        rows.push_back(row("scaling.fit", QStringLiteral("Fit"), current == FillMode::fit,
                           [s, targets] { s->setItemFillMode(targets, FillMode::fit); }));
        rows.push_back(row("scaling.fill", QStringLiteral("Fill"), current == FillMode::fill,
                           [s, targets] { s->setItemFillMode(targets, FillMode::fill); }));
        menu.push_back(submenu("scaling", QStringLiteral("Scaling"), std::move(rows)));
    }
    menu.push_back(separator());

    menu.push_back(action("duplicate", countedTitle("Duplicate", "Duplicate %lld Clips", n), [s, targets, sectionGroupId] {
        for (const auto& target : targets) s->duplicateClip(target, sectionGroupId);
    }));
    {
        std::vector<Entry> rows;
        for (const Group& g : state.library.groups())
            rows.push_back(action("addTo." + g.id, QString::fromStdString(g.name), [s, targets, gid = g.id] {
                for (const auto& target : targets) s->addToPlaylist(target, gid);
            }));
        rows.push_back(separator());
        rows.push_back(action("newPlaylist", QStringLiteral("New Playlist\u2026"), [s, targets] {
            s->playlistEditor = PlaylistEditorTarget::create(targets);
            s->notify(Aspect::playlistEditor);
        }));
        menu.push_back(submenu("addToPlaylist", countedTitle("Add to Playlist", "Add %lld Clips to Playlist", n),
                               std::move(rows)));
    }
    if (sectionGroupId)
        menu.push_back(action("removeFromPlaylist",
                              countedTitle("Remove from Playlist", "Remove %lld Clips from Playlist", n),
                              [s, targets, gid = *sectionGroupId] {
                                  for (const auto& target : targets) s->library.removeFromGroup(gid, target);
                              }));
    menu.push_back(separator());
    if (offline) menu.push_back(action("relink", QStringLiteral("Relink\u2026"), [s, id] { s->promptRelink(id); }));
    menu.push_back(action(
        "showInFileManager", QStringLiteral("Show in File Manager"),
        [reveal = actions.reveal, path = clip.path] {
            if (reveal) reveal(path);
        },
        !offline));
    Entry remove = action("removeFromLibrary", countedTitle("Remove from Library", "Remove %lld Clips from Library", n),
                          [s, targets] {
                              s->pendingDeletion = PendingDeletion::clips(targets);
                              s->notify(Aspect::pendingDeletion);
                          });
    remove.destructive = true;
    menu.push_back(std::move(remove));
    return menu;
}

const CardMenuEntry* findEntry(const std::vector<CardMenuEntry>& entries, const std::string& key) {
    for (const auto& e : entries) {
        if (e.kind != CardMenuEntry::Kind::separator && e.key == key) return &e;
        if (const auto* found = findEntry(e.children, key)) return found;
    }
    return nullptr;
}

void renderCardMenu(QMenu& menu, const std::vector<CardMenuEntry>& entries) {
    QActionGroup* group = nullptr;
    for (const auto& e : entries) {
        switch (e.kind) {
            case CardMenuEntry::Kind::separator: menu.addSeparator(); break;
            case CardMenuEntry::Kind::submenu: {
                QMenu* sub = menu.addMenu(e.title);
                sub->setObjectName(QString::fromStdString(e.key));
                sub->menuAction()->setObjectName(QString::fromStdString(e.key));
                renderCardMenu(*sub, e.children);
                break;
            }
            case CardMenuEntry::Kind::action: {
                QAction* a = menu.addAction(e.title);
                a->setObjectName(QString::fromStdString(e.key));
                a->setEnabled(e.enabled);
                if (e.checkable) {
                    if (!group) {
                        group = new QActionGroup(&menu);
                        group->setExclusive(true);
                    }
                    a->setCheckable(true);
                    a->setChecked(e.checked);
                    group->addAction(a);
                }
                if (e.destructive) a->setProperty("destructive", true);
                QObject::connect(a, &QAction::triggered, &menu, [run = e.run] {
                    if (run) run();
                });
                break;
            }
        }
    }
}

}  // namespace ombry::ui
