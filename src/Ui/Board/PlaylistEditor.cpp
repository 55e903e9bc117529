#include "Ui/Board/PlaylistEditor.hpp"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include "Ui/Bridge/RefreshGate.hpp"
#include "Ui/Bridge/StateSignals.hpp"
#include "Ui/Shell/Theme.hpp"
#include "Ui/Widgets/Symbols.hpp"

namespace ombry::ui {

namespace editor_rules {

QString title(const PlaylistEditorTarget& t) {
    return t.kind == PlaylistEditorTarget::Kind::create ? QStringLiteral("New Playlist") : QStringLiteral("Edit Playlist");
}
QString confirmTitle(const PlaylistEditorTarget& t) {
    return t.kind == PlaylistEditorTarget::Kind::create ? QStringLiteral("Create") : QStringLiteral("Save");
}
bool canConfirm(const PlaylistEditorTarget& t, const std::string& name) {
    return t.kind == PlaylistEditorTarget::Kind::edit || !Library::trimSpaces(name).empty();
}
Form load(const AppState& state, const PlaylistEditorTarget& t) {
    Form f;
    if (t.kind != PlaylistEditorTarget::Kind::edit) return f;
    if (const Group* g = board::findGroup(state.library, t.playlistId)) {
        f.name = g->name;
        f.color = g->color.value_or("#5f6670");
        f.icon = g->icon.value_or("list.bullet");
    }
    return f;
}
void save(AppState& state, const PlaylistEditorTarget& t, const Form& f) {
    if (t.kind == PlaylistEditorTarget::Kind::edit) {
        state.updatePlaylist(t.playlistId, f.name, f.color, f.icon);
        return;
    }
    const Group g = state.library.createGroup(f.name, f.color, f.icon);
    for (const auto& seed : t.seeds) state.addToPlaylist(seed, g.id);
    state.setSelection({SidebarItem::playlist(g.id)});
}
QString clipCount(std::size_t n) {
    return QString::number(qulonglong(n)) + (n == 1 ? QStringLiteral(" item") : QStringLiteral(" items"));
}

}  // namespace editor_rules

namespace {

QColor colourOf(const std::string& hex, const QColor& fallback) {
    const auto c = AppState::color(hex);
    return c ? QColor::fromRgbF(float(c->r), float(c->g), float(c->b)) : fallback;
}

QLabel* caption(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    QFont f = l->font();
    f.setPixelSize(10);
    f.setWeight(QFont::DemiBold);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    l->setFont(f);
    l->setForegroundRole(QPalette::PlaceholderText);
    return l;
}

// A 24 pt colour circle, checked when it is the chosen colour.
class Swatch final : public QAbstractButton {
public:
    Swatch(std::string hex, QWidget* parent) : QAbstractButton(parent), hex_(std::move(hex)) {
        setCheckable(true);
        setFixedSize(24, 24);
        setFocusPolicy(Qt::NoFocus);
        setObjectName(QString::fromStdString("swatch" + hex_));
        setAccessibleName(QStringLiteral("Colour ") + QString::fromStdString(hex_));
    }
    const std::string& hex() const { return hex_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
        p.setPen(Qt::NoPen);
        p.setBrush(colourOf(hex_, QColor(142, 142, 147)));
        p.drawEllipse(r);
        if (isChecked()) symbols::draw(p, r.adjusted(5, 5, -5, -5), "checkmark", Qt::white);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor::fromRgbF(1, 1, 1, isChecked() ? 0.9f : 0.15f), isChecked() ? 2 : 1));
        p.drawEllipse(r.adjusted(0.5, 0.5, -0.5, -0.5));
    }

private:
    std::string hex_;
};

// A 36×32 symbol cell, tinted with the chosen colour when it is the chosen symbol.
class IconCell final : public QAbstractButton {
public:
    IconCell(std::string icon, std::function<QColor()> tint, QWidget* parent)
        : QAbstractButton(parent), icon_(std::move(icon)), tint_(std::move(tint)) {
        setCheckable(true);
        setFixedSize(36, 32);
        setFocusPolicy(Qt::NoFocus);
        setObjectName(QString::fromStdString("icon." + icon_));
        setAccessibleName(QStringLiteral("Symbol ") + QString::fromStdString(icon_));
    }
    const std::string& icon() const { return icon_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(isChecked() ? tint_() : QColor::fromRgbF(1, 1, 1, 0.06f));
        p.drawRoundedRect(QRectF(rect()), 7, 7);
        symbols::draw(p, QRectF(rect()).adjusted(9, 7, -9, -7), icon_,
                      isChecked() ? QColor(Qt::white) : palette().color(QPalette::PlaceholderText));
    }

private:
    std::string icon_;
    std::function<QColor()> tint_;
};

}  // namespace

PlaylistEditorForm::PlaylistEditorForm(AppState& state, PlaylistEditorTarget target, QWidget* parent)
    : QWidget(parent), state_(state), target_(std::move(target)), form_(editor_rules::load(state, target_)) {
    setObjectName(QStringLiteral("playlistEditor"));
    setFixedWidth(380);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(20, 20, 20, 20);
    v->setSpacing(18);
    auto* title = new QLabel(editor_rules::title(target_), this);
    title->setObjectName(QStringLiteral("editorTitle"));
    QFont tf = title->font();
    tf.setBold(true);
    title->setFont(tf);
    v->addWidget(title);

    auto section = [&](const QString& label, QWidget* body) {
        auto* box = new QWidget(this);
        auto* bl = new QVBoxLayout(box);
        bl->setContentsMargins(0, 0, 0, 0);
        bl->setSpacing(6);
        bl->addWidget(caption(label, box));
        bl->addWidget(body);
        v->addWidget(box);
    };
    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("editorName"));
    name_->setPlaceholderText(QStringLiteral("Playlist name"));
    name_->setAccessibleName(QStringLiteral("Playlist name"));
    name_->setText(QString::fromStdString(form_.name));
    section(QStringLiteral("NAME"), name_);

    auto* swatches = new QWidget(this);
    auto* sl = new QHBoxLayout(swatches);
    sl->setContentsMargins(0, 0, 0, 0);
    sl->setSpacing(9);
    colours_ = new QButtonGroup(this);
    colours_->setExclusive(false);  // a colour outside the palette marks none
    for (const char* c : editor_rules::colours) {
        auto* s = new Swatch(c, swatches);
        colours_->addButton(s);
        sl->addWidget(s);
    }
    sl->addStretch(1);
    section(QStringLiteral("COLOR"), swatches);

    auto* grid = new QWidget(this);
    auto* gl = new QGridLayout(grid);
    gl->setContentsMargins(0, 0, 0, 0);
    gl->setHorizontalSpacing(8);
    gl->setVerticalSpacing(8);
    icons_ = new QButtonGroup(this);
    icons_->setExclusive(false);
    for (std::size_t i = 0; i < editor_rules::icons.size(); ++i) {
        auto* cell = new IconCell(editor_rules::icons[i], [this] {
            return colourOf(form_.color, palette().color(QPalette::Highlight));
        }, grid);
        icons_->addButton(cell);
        gl->addWidget(cell, int(i / 6), int(i % 6), Qt::AlignCenter);
    }
    section(QStringLiteral("ICON"), grid);

    auto* buttons = new QWidget(this);
    auto* bl = new QHBoxLayout(buttons);
    bl->setContentsMargins(0, 0, 0, 0);
    bl->addStretch(1);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), buttons);
    cancel->setObjectName(QStringLiteral("editorCancel"));
    cancel->setAutoDefault(false);
    confirm_ = new QPushButton(editor_rules::confirmTitle(target_), buttons);
    confirm_->setObjectName(QStringLiteral("editorConfirm"));
    confirm_->setDefault(true);
    bl->addWidget(cancel);
    bl->addWidget(confirm_);
    v->addWidget(buttons);

    connect(name_, &QLineEdit::textChanged, this, [this](const QString& t) {
        form_.name = t.toStdString();
        sync();
    });
    connect(colours_, &QButtonGroup::buttonClicked, this, [this](QAbstractButton* b) {
        form_.color = static_cast<Swatch*>(b)->hex();
        sync();
    });
    connect(icons_, &QButtonGroup::buttonClicked, this, [this](QAbstractButton* b) {
        form_.icon = static_cast<IconCell*>(b)->icon();
        sync();
    });
    connect(cancel, &QPushButton::clicked, this, &PlaylistEditorForm::finished);
    connect(confirm_, &QPushButton::clicked, this, &PlaylistEditorForm::confirm);
    // Return reaches keyPressEvent from the field (which passes it on), so it is handled once, there.
    sync();
}

void PlaylistEditorForm::sync() {
    for (QAbstractButton* b : colours_->buttons()) b->setChecked(static_cast<Swatch*>(b)->hex() == form_.color);
    for (QAbstractButton* b : icons_->buttons()) {
        b->setChecked(static_cast<IconCell*>(b)->icon() == form_.icon);
        b->update();
    }
    confirm_->setEnabled(editor_rules::canConfirm(target_, form_.name));
}

void PlaylistEditorForm::confirm() {
    if (!editor_rules::canConfirm(target_, form_.name)) return;
    editor_rules::save(state_, target_, form_);
    emit finished();
}

void PlaylistEditorForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        emit finished();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        confirm();
        return;
    }
    QWidget::keyPressEvent(event);
}

PlaylistEditorSheet::PlaylistEditorSheet(AppState& state, PlaylistEditorTarget target, QWidget* parent)
    : Popover(parent) {
    setObjectName(QStringLiteral("playlistEditorSheet"));
    setAccessibleName(editor_rules::title(target));
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    form_ = new PlaylistEditorForm(state, std::move(target), this);
    v->addWidget(form_);
    connect(form_, &PlaylistEditorForm::finished, this, &QWidget::close);
}

SavedPlaylistPicker::SavedPlaylistPicker(AppState& state, StateSignals& stateSignals, DialogService& dialogs, QWidget* parent)
    : QWidget(parent), state_(state), dialogs_(dialogs) {
    setObjectName(QStringLiteral("savedPlaylistPicker"));
    setFixedWidth(380);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(20, 20, 20, 20);
    v->setSpacing(12);
    empty_ = new QWidget(this);
    auto* el = new QVBoxLayout(empty_);
    el->setContentsMargins(0, 0, 0, 0);
    el->setSpacing(6);
    auto* none = new QLabel(QStringLiteral("No saved playlists yet"), empty_);
    none->setObjectName(QStringLiteral("savedEmptyTitle"));
    QFont nf = none->font();
    nf.setBold(true);
    none->setFont(nf);
    auto* how = new QLabel(QStringLiteral("Right-click a playlist and choose \u201CSave Playlist to Library\u201D to reuse it "
                                          "in any project."),
                           empty_);
    how->setWordWrap(true);
    how->setForegroundRole(QPalette::PlaceholderText);
    el->addWidget(none);
    el->addWidget(how);
    v->addWidget(empty_);
    list_ = new QScrollArea(this);
    list_->setObjectName(QStringLiteral("savedList"));
    list_->setFrameShape(QFrame::NoFrame);
    list_->setWidgetResizable(true);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setMaximumHeight(280);
    rows_ = new QWidget;
    rowsLayout_ = new QVBoxLayout(rows_);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(6);
    list_->setWidget(rows_);
    v->addWidget(list_);
    gate_ = new RefreshGate(this, [this] { refresh(); });
    gate_->watch(stateSignals, {Aspect::savedPlaylists});
    refresh();
}

void SavedPlaylistPicker::refresh() {
    const auto& saved = state_.savedPlaylists().savedPlaylists().playlists;
    empty_->setVisible(saved.empty());
    list_->setVisible(!saved.empty());
    while (QLayoutItem* li = rowsLayout_->takeAt(0)) {
        delete li->widget();
        delete li;
    }
    int height = 0;
    for (const auto& s : saved) {
        auto* row = new QFrame(rows_);
        row->setObjectName(QStringLiteral("savedRow"));
        row->setStyleSheet(QStringLiteral("#savedRow { background: rgba(255,255,255,11); border-radius: 8px; }"));
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(8, 8, 8, 8);
        h->setSpacing(10);
        auto* badge = new QLabel(row);
        QPixmap pm(26, 26);
        pm.fill(Qt::transparent);
        {
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            const QColor c = colourOf(s.color.value_or(""), QColor(142, 142, 147));
            QLinearGradient g(0, 0, 26, 26);
            g.setColorAt(0, c.lighter(115));
            g.setColorAt(1, c.darker(125));
            p.setPen(Qt::NoPen);
            p.setBrush(g);
            p.drawRoundedRect(QRectF(0, 0, 26, 26), 6, 6);
            symbols::draw(p, QRectF(6, 6, 14, 14), s.icon.value_or("list.bullet"), Qt::white);
        }
        badge->setPixmap(pm);
        auto* titles = new QWidget(row);
        auto* tl = new QVBoxLayout(titles);
        tl->setContentsMargins(0, 0, 0, 0);
        tl->setSpacing(1);
        auto* name = new QLabel(row);
        name->setTextFormat(Qt::PlainText);
        name->setText(QString::fromStdString(s.name));
        auto* count = new QLabel(editor_rules::clipCount(s.media.size()), row);
        count->setObjectName(QStringLiteral("savedCount"));
        count->setForegroundRole(QPalette::PlaceholderText);
        tl->addWidget(name);
        tl->addWidget(count);
        auto* add = new QPushButton(QStringLiteral("Add"), row);
        add->setObjectName(QStringLiteral("savedAdd"));
        add->setAccessibleName(QStringLiteral("Add ") + QString::fromStdString(s.name));
        add->setAutoDefault(false);
        auto* remove = new QToolButton(row);
        remove->setObjectName(QStringLiteral("savedDelete"));
        remove->setIcon(symbols::icon("trash", 14, theme::live()));
        remove->setAutoRaise(true);
        remove->setAccessibleName(QStringLiteral("Delete saved playlist"));
        remove->setToolTip(QStringLiteral("Delete saved playlist"));
        h->addWidget(badge);
        h->addWidget(titles, 1);
        h->addWidget(add);
        h->addWidget(remove);
        rowsLayout_->addWidget(row);
        row->show();
        height += row->sizeHint().height() + 6;
        const std::string id = s.id, title = s.name;
        connect(add, &QPushButton::clicked, this, [this, id] {
            state_.savedPlaylists().importSavedPlaylist(id);
            emit imported();
        });
        // Every project shares the saved playlists and there is no undo: ask first.
        connect(remove, &QToolButton::clicked, this, [this, id, title] {
            DialogRequest r;
            r.message = QStringLiteral("Delete \u201C%1\u201D from the saved playlists?").arg(QString::fromStdString(title));
            r.informative = QStringLiteral("It is no longer offered in any project. Playlists already brought back "
                                           "into a project stay.");
            r.buttons = {QStringLiteral("Delete"), QStringLiteral("Cancel")};
            r.destructive = 0;
            r.cancel = 1;
            QPointer<SavedPlaylistPicker> self(this);
            dialogs_.ask(this, r, [self, id](int answer) {
                if (self && answer == 0) self->state_.savedPlaylists().deleteSavedPlaylist(id);
            });
        });
    }
    list_->setFixedHeight(std::min(280, std::max(0, height)));
}

NewPlaylistPopover::NewPlaylistPopover(AppState& state, StateSignals& stateSignals, DialogService& dialogs,
                                       PlaylistEditorTarget target, QWidget* parent)
    : Popover(parent), state_(state), signals_(stateSignals), dialogs_(dialogs), target_(std::move(target)) {
    setObjectName(QStringLiteral("newPlaylistPopover"));
    setFixedWidth(380);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    auto* bar = new QWidget(this);
    auto* bl = new QHBoxLayout(bar);
    bl->setContentsMargins(16, 16, 16, 0);
    bl->setSpacing(0);
    tabs_ = new QButtonGroup(this);
    int i = 0;
    for (const QString& label : {QStringLiteral("New"), QStringLiteral("From Library")}) {
        auto* b = new QToolButton(bar);
        b->setText(label);
        b->setObjectName(i == 0 ? QStringLiteral("tabNew") : QStringLiteral("tabSaved"));
        b->setAccessibleName(label);
        b->setCheckable(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        tabs_->addButton(b, i++);
        bl->addWidget(b);
    }
    v->addWidget(bar);
    body_ = new QVBoxLayout;
    v->addLayout(body_);
    connect(tabs_, &QButtonGroup::idClicked, this, [this](int id) { setTab(id == 0 ? Tab::created : Tab::saved); });
    setTab(Tab::created);
}

void NewPlaylistPopover::setTab(Tab tab) {
    if (tab == tab_ && page_) return;
    tab_ = tab;
    tabs_->button(tab == Tab::created ? 0 : 1)->setChecked(true);
    // Only the shown tab exists: the other's typing is dropped.
    delete page_;
    if (tab == Tab::created) {
        auto* form = new PlaylistEditorForm(state_, target_, this);
        connect(form, &PlaylistEditorForm::finished, this, &QWidget::close);
        page_ = form;
    } else {
        auto* picker = new SavedPlaylistPicker(state_, signals_, dialogs_, this);
        connect(picker, &SavedPlaylistPicker::imported, this, &QWidget::close);
        page_ = picker;
    }
    body_->addWidget(page_);
    page_->show();
    adjustSize();
}

PlaylistEditorForm* NewPlaylistPopover::form() const { return qobject_cast<PlaylistEditorForm*>(page_); }
SavedPlaylistPicker* NewPlaylistPopover::picker() const { return qobject_cast<SavedPlaylistPicker*>(page_); }

PlaylistEditorPresenter::PlaylistEditorPresenter(AppState& state, StateSignals& stateSignals, DialogService& dialogs,
                                                 QWidget* window, Anchor anchor)
    : QObject(window), state_(state), signals_(stateSignals), dialogs_(dialogs), window_(window), anchor_(std::move(anchor)) {
    connect(&stateSignals, &StateSignals::changed, this, [this](Aspect a) {
        if (a == Aspect::playlistEditor) QMetaObject::invokeMethod(this, &PlaylistEditorPresenter::follow, Qt::QueuedConnection);
    });
}

void PlaylistEditorPresenter::follow() {
    const auto& target = state_.playlistEditor;
    if (target == shown_) return;
    if (open_) {
        QWidget* old = open_;
        open_ = nullptr;
        old->close();
    }
    shown_.reset();
    if (!target) return;
    std::optional<QRect> at = QRect(window_->mapToGlobal(QPoint(0, 0)), QSize());
    if (anchor_) at = anchor_(*target);
    if (!at) return;  // nowhere to show it: the target waits for whatever clears it
    shown_ = target;
    Popover* w = nullptr;
    if (target->kind == PlaylistEditorTarget::Kind::edit) {
        w = new PlaylistEditorSheet(state_, *target, window_);
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->showBeside(*at);
    } else {
        w = new NewPlaylistPopover(state_, signals_, dialogs_, *target, window_);
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->showAt(*at);
    }
    open_ = w;
    const PlaylistEditorTarget mine = *target;
    connect(w, &QObject::destroyed, this, [this, mine] {
        if (state_.playlistEditor == mine) {
            state_.playlistEditor.reset();
            shown_.reset();
            state_.notify(Aspect::playlistEditor);
        }
    });
}

}  // namespace ombry::ui
