#include "Ui/Shell/SingleInstance.hpp"

#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

#include "Platform/Paths.hpp"

namespace ombry::ui {

namespace {
// One line per request: the document's absolute path (may be empty), answered with "ok".
constexpr qint64 maxRequest = 64 * 1024;
}

QString SingleInstance::defaultSocketPath() {
    const auto dir = paths::runtimeDir();
    return QString::fromStdString((dir / ("com.dovel.Ombry." + std::to_string(::getuid()) + ".instance")).string());
}

SingleInstance::SingleInstance(QString socketPath, QObject* parent) : QObject(parent), path_(std::move(socketPath)) {}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();
}

bool SingleInstance::handOver(const std::optional<std::filesystem::path>& document, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(path_);
    if (!socket.waitForConnected(timeoutMs)) return false;
    std::string line;
    if (document) {
        std::error_code ec;
        const auto absolute = std::filesystem::absolute(*document, ec);
        line = (ec ? *document : absolute).string();
    }
    line += '\n';
    socket.write(line.data(), qint64(line.size()));
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    // The running one answers once it has taken the document.
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(timeoutMs)) return false;
    return socket.readLine().trimmed() == "ok";
}

bool SingleInstance::listen(std::function<void(const std::filesystem::path&)> onOpen) {
    onOpen_ = std::move(onOpen);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path_)) {
        // A socket left by an instance that crashed: nobody answers on it, so it is ours to replace.
        QLocalServer::removeServer(path_);
        if (!server_->listen(path_)) return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* c = server_->nextPendingConnection()) {
            connect(c, &QLocalSocket::disconnected, c, &QObject::deleteLater);
            connect(c, &QLocalSocket::readyRead, c, [this, c] {
                if (!c->canReadLine()) {
                    if (c->bytesAvailable() > maxRequest) c->abort();
                    return;
                }
                const QByteArray line = c->readLine(maxRequest).chopped(1);
                c->write("ok\n");
                c->flush();
                c->disconnectFromServer();
                if (onOpen_) onOpen_(std::filesystem::path(line.toStdString()));
            });
        }
    });
    return true;
}

bool SingleInstance::listening() const { return server_ && server_->isListening(); }

}  // namespace ombry::ui
