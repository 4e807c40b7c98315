#include "ui/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include "platform/Env.h"

namespace palvero::ui {
namespace {

constexpr char kReopen[] = "reopen\n";

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

QString SingleInstance::socketPath() {
  return QString::fromStdString(Env::supportDirectory() + "/palvero-desktop.socket");
}

bool SingleInstance::askRunningToReopen(int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(socketPath());
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(kReopen);
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  // The running app closes the connection once it has read the request.
  socket.waitForDisconnected(timeoutMs);
  return true;
}

bool SingleInstance::listen(std::function<void()> onReopen) {
  onReopen_ = std::move(onReopen);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  // Only the holder of the instance lock gets here: a socket left by a
  // crashed app is stale.
  QLocalServer::removeServer(socketPath());
  if (!server_->listen(socketPath())) return false;
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) return;
        QByteArray line = socket->readLine();
        socket->disconnectFromServer();
        if (line == kReopen && onReopen_) onReopen_();
      });
    }
  });
  return true;
}

}  // namespace palvero::ui
