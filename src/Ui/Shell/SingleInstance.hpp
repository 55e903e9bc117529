#pragma once
// One Ombry per user session: the first start listens on a local socket in $XDG_RUNTIME_DIR; a later start
// hands its document (or nothing, just to bring the window forward) to it and ends.
#include <QObject>
#include <QString>

#include <filesystem>
#include <functional>
#include <optional>

class QLocalServer;

namespace ombry::ui {

class SingleInstance final : public QObject {
public:
    // The socket of this user's session.
    static QString defaultSocketPath();

    explicit SingleInstance(QString socketPath = defaultSocketPath(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // Hands the document to a running instance; true when one took it (this process then ends).
    bool handOver(const std::optional<std::filesystem::path>& document, int timeoutMs = 2000);
    // Becomes the running instance: `onOpen` gets every document later starts hand over (an empty path
    // when they only asked to be brought forward). False when the socket cannot be made.
    bool listen(std::function<void(const std::filesystem::path&)> onOpen);
    bool listening() const;
    const QString& socketPath() const { return path_; }

private:
    QString path_;
    QLocalServer* server_ = nullptr;
    std::function<void(const std::filesystem::path&)> onOpen_;
};

}  // namespace ombry::ui
