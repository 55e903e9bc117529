#pragma once
// The desktop behind the window, as seams tests can replace: the clipboard and file panels the AppState
// asks through (Platform/Clipboard.hpp, Platform/FilePanels.hpp), showing a file in the file manager, and
// the pointer and modifier keys.
#include <QPoint>

#include <filesystem>
#include <functional>
#include <vector>

#include "Platform/Clipboard.hpp"
#include "Platform/FilePanels.hpp"

class QWidget;

namespace ombry::ui {

class QtClipboard final : public Clipboard {
public:
    bool hasData(const std::string& type) const override;
    std::optional<std::string> data(const std::string& type) const override;
    void clearAndSet(const std::string& type, const std::string& bytes) override;
};

// The desktop's file dialogs, modal to the main window.
class QtFilePanels final : public FilePanels {
public:
    explicit QtFilePanels(std::function<QWidget*()> parent = {}) : parent_(std::move(parent)) {}
    std::optional<std::filesystem::path> runSavePanel(const SavePanelRequest& request) override;
    std::optional<std::filesystem::path> runOpenPanel(const OpenPanelRequest& request) override;
    std::vector<std::filesystem::path> runOpenPanelMultiple(const OpenPanelRequest& request) override;

private:
    std::function<QWidget*()> parent_;
};

// Shows files selected in the desktop's file manager.
class FileReveal {
public:
    virtual ~FileReveal() = default;
    virtual void reveal(const std::vector<std::filesystem::path>& files) = 0;
    // Opens the folder itself in the file manager.
    virtual void openFolder(const std::filesystem::path& folder) { reveal({folder}); }
};

// org.freedesktop.FileManager1.ShowItems on the session bus, off the GUI thread; when no file manager
// answers, the folder of the first file opens instead.
class FileManagerReveal final : public FileReveal {
public:
    void reveal(const std::vector<std::filesystem::path>& files) override;
    void openFolder(const std::filesystem::path& folder) override;
    // "file:///…" with every byte outside the unreserved set percent-encoded.
    static std::string fileUri(const std::filesystem::path& path);
};

// Where the pointer is and which modifier keys are held, asked at the moment of a gesture.
class PointerState {
public:
    virtual ~PointerState() = default;
    virtual QPoint globalPosition() const = 0;
    virtual Qt::KeyboardModifiers modifiers() const = 0;
    virtual Qt::MouseButtons buttons() const = 0;
};

class QtPointerState final : public PointerState {
public:
    QPoint globalPosition() const override;
    Qt::KeyboardModifiers modifiers() const override;
    Qt::MouseButtons buttons() const override;
};

class FixedPointerState final : public PointerState {
public:
    QPoint position;
    Qt::KeyboardModifiers held = Qt::NoModifier;
    QPoint globalPosition() const override { return position; }
    Qt::MouseButtons pressed = Qt::NoButton;
    Qt::KeyboardModifiers modifiers() const override { return held; }
    Qt::MouseButtons buttons() const override { return pressed; }
};

}  // namespace ombry::ui
